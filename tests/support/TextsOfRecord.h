#pragma once
// The operator's texts of record, written out here and never taken from the program: a
// text changed, or two swapped, in the program's table fails the tests that use this.
#include <QString>

namespace pmx::test {

struct TextOfRecord {
    int id;
    const char* english;
    const char* japanese; // nullptr: only the English text is fixed
};

// clang-format off
inline constexpr TextOfRecord kTextsOfRecord[] = {
    {1, "Setting software", "設定ソフトウェア"},
    {2, "KORVAN DELTRIS CO., LTD.", "コルバンデルトリス株式会社"},
    {3, "PMX-31570A", "PMX-31570A"},
    {4, "File(&F)", "ファイル(&F)"},
    {5, "End(&Q)", "終了(&Q)"},
    {6, "Setting(&S)", "設定(&S)"},
    {7, "Help(&H)", "ヘルプ(&H)"},
    {8, "Version information(&V)", "バージョン情報(&V)"},
    {9, "Communication item selection(&C)", "通信項目選択(&C)"},
    {10, "Unit selection(&M)", "製品選択(&M)"},
    {11, "Communication condition(&N)", "通信条件(&N)"},
    {13, "DEC", "10進数"},
    {14, "HEX", "16進数"},
    {20, "Data transmission", "データ転送"},
    {21, "Read", "読込み"},
    {22, "Write", "書込み"},
    {23, "Files", "ファイル"},
    {24, "Load", "ロード"},
    {25, "Save", "セーブ"},
    {26, "Protocol", "プロトコル"},
    {27, "Instrument number", "機器番号"},
    {28, "Transfer rate", "通信速度"},
    {29, "Data bit", "データビット"},
    {30, "Stop bit", "ストップビット"},
    {31, "Parity bit", "パリティビット"},
    {32, "Communication condition", "通信条件"},
    {33, "Communication port", "通信ポート"},
    {34, "Time out", "タイムアウト時間"},
    {35, "Communication condition setting display", "通信条件設定画面"},
    {36, "Setting value change display", "設定値変更画面"},
    {37, "Current setting value", "現在の設定値"},
    {39, "Command item", "コマンド項目"},
    {40, "Communication item selection display", "通信項目選択画面"},
    {41, "Version information", "バージョン情報"},
    {42, "Send command when set values are changed.", "設定値変更時コマンド送信する。"},
    {50, "Communication error! Check the communication conditions.",
         "通信エラー! 通信条件を確認してください。"},
    {51, "Do you want to close the software?", "設定ソフトウェアを終了しますか?"},
    {52, "Reading will initiate. Is this OK?", "読込みを開始します。よろしいですか?"},
    {53, "Writing  will initiate. Is this OK?", "書込みを開始します。よろしいですか?"},
    {100, "Negative acknowledgement. Check the sending data.",
          "否定応答。送信データ確認してください。"},
    {101, "Checksum error", "チェックサムエラー"},
    {102, "No response. Check the wiring and communication conditions.",
          "無応答。配線と通信条件を確認してください。"},
    {103, "Communication error/Negative acknowledgement has occurred.",
          "通信エラーまたは否定応答がありました。"},
    {106, "Parameter", "パラメータ設定"},
    {107, "Data Item", "データ項目"},
    {108, "Data", "データ"},
    {109, "Unit", nullptr},
    {110, "All Data(&A)", "データ一覧(&A)"},
    {111, "Export(&E)", "エクスポート(&E)"},
};
// clang-format on

// Fixed texts, the same in both languages.
inline constexpr const char* kModelFilterOfRecord = "*.txt(text file)";
inline constexpr const char* kDataFilterOfRecord = "*.dat(data file)";
inline constexpr const char* kCsvFilterOfRecord = "*.csv(Comma Separated Values)";
inline constexpr const char* kPageFooterOfRecord = "Page %p of %P";

inline QString recordText(int id, bool japanese) {
    for (const TextOfRecord& t : kTextsOfRecord)
        if (t.id == id)
            return QString::fromUtf8(japanese && t.japanese ? t.japanese : t.english);
    return {};
}

} // namespace pmx::test
