#include "text/StringTable.h"

#include <QLocale>
#include <QRegularExpression>

namespace pmx::strings {

namespace {

Lang g_lang = Lang::English;

struct Entry {
    int id;
    const char16_t* english;
    const char16_t* japanese;
};

// Compiled in, so the program never runs without its texts. Ids 1 to 111 are the texts
// operators, their written procedures and the instruments' manuals know: they stay word
// for word in both languages. A menu caption carries its access letter as "(&X)" after
// the text, in English as in Japanese.
constexpr Entry kTable[] = {
    {1, u"Setting software", u"設定ソフトウェア"},
    {2, u"KORVAN DELTRIS CO., LTD.", u"コルバンデルトリス株式会社"},
    {3, u"PMX-31570A", u"PMX-31570A"},
    {4, u"File(&F)", u"ファイル(&F)"},
    {5, u"End(&Q)", u"終了(&Q)"},
    {6, u"Setting(&S)", u"設定(&S)"},
    {7, u"Help(&H)", u"ヘルプ(&H)"},
    {8, u"Version information(&V)", u"バージョン情報(&V)"},
    {9, u"Communication item selection(&C)", u"通信項目選択(&C)"},
    {10, u"Unit selection(&M)", u"製品選択(&M)"},
    {11, u"Communication condition(&N)", u"通信条件(&N)"},
    {13, u"DEC", u"10進数"},
    {14, u"HEX", u"16進数"},
    {20, u"Data transmission", u"データ転送"},
    {21, u"Read", u"読込み"},
    {22, u"Write", u"書込み"},
    {23, u"Files", u"ファイル"},
    {24, u"Load", u"ロード"},
    {25, u"Save", u"セーブ"},
    {26, u"Protocol", u"プロトコル"},
    {27, u"Instrument number", u"機器番号"},
    {28, u"Transfer rate", u"通信速度"},
    {29, u"Data bit", u"データビット"},
    {30, u"Stop bit", u"ストップビット"},
    {31, u"Parity bit", u"パリティビット"},
    {32, u"Communication condition", u"通信条件"},
    {33, u"Communication port", u"通信ポート"},
    {34, u"Time out", u"タイムアウト時間"},
    {35, u"Communication condition setting display", u"通信条件設定画面"},
    {36, u"Setting value change display", u"設定値変更画面"},
    {37, u"Current setting value", u"現在の設定値"},
    {39, u"Command item", u"コマンド項目"},
    {40, u"Communication item selection display", u"通信項目選択画面"},
    {41, u"Version information", u"バージョン情報"},
    {42, u"Send command when set values are changed.", u"設定値変更時コマンド送信する。"},
    {50, u"Communication error! Check the communication conditions.",
     u"通信エラー! 通信条件を確認してください。"},
    {51, u"Do you want to close the software?", u"設定ソフトウェアを終了しますか?"},
    {52, u"Reading will initiate. Is this OK?", u"読込みを開始します。よろしいですか?"},
    // Two blanks after "Writing": operators and their written procedures know the
    // question in this exact wording.
    {53, u"Writing  will initiate. Is this OK?", u"書込みを開始します。よろしいですか?"},
    // Operator messages of the windows.
    {60, u"The CSV file could not be written:\n%1\n%2",
     u"CSVファイルを書き込めませんでした:\n%1\n%2"},
    {61, u"The data file could not be saved:\n%1\n%2",
     u"データファイルを保存できませんでした:\n%1\n%2"},
    {62, u"The data file was not loaded; nothing was changed.\n%1\n%2",
     u"データファイルを読み込めませんでした。何も変更していません。\n%1\n%2"},
    {63, u"The settings could not be saved to\n%1\n%2\n\nClose the software anyway?",
     u"設定を保存できませんでした:\n%1\n%2\n\nこのまま終了しますか?"},
    {70, u"Device for the port", u"ポートのデバイス"},
    {71, u"Automatic (USB adapter in order)", u"自動 (USB アダプタ順)"},
    {72, u" (not connected)", u" (未接続)"},
    {73, u"%1 opens no device: no USB serial adapter found.",
     u"%1 に対応するデバイスがありません (USB シリアルアダプタが見つかりません)。"},
    {74, u"%1 opens %2", u"%1 は %2 を開きます"},
    {75, u"Out of range (-32768 to 32767)", u"設定範囲外です (-32768 ～ 32767)"},
    {76, u"Save PDF", u"PDFで保存"},
    {77, u"Setting software for the PMX-31570A instrument family.",
     u"PMX-31570A シリーズ計器用の設定ソフトウェアです。"},
    {100, u"Negative acknowledgement. Check the sending data.",
     u"否定応答。送信データ確認してください。"},
    // The katakana of "checksum" corrected (チェック, not チャック).
    {101, u"Checksum error", u"チェックサムエラー"},
    {102, u"No response. Check the wiring and communication conditions.",
     u"無応答。配線と通信条件を確認してください。"},
    {103, u"Communication error/Negative acknowledgement has occurred.",
     u"通信エラーまたは否定応答がありました。"},
    {104, u"1-2-3 Example-cho, Minato-ku, Tokyo", u"東京都港区例町1-2-3"},
    {105, u"TEL +81-3-0000-0000", u"TEL 03-0000-0000"},
    {106, u"Parameter", u"パラメータ設定"},
    {107, u"Data Item", u"データ項目"},
    {108, u"Data", u"データ"},
    {109, u"Unit", u"単位"},
    {110, u"All Data(&A)", u"データ一覧(&A)"},
    {111, u"Export(&E)", u"エクスポート(&E)"},
    // Why a table or model file was not read.
    {120, u"field %1 (line %2): %3", u"フィールド %1 (%2 行目): %3"},
    {121, u"the file ends too early", u"ファイルが途中で終わっています"},
    {122, u"the closing double quote is missing", u"閉じる二重引用符がありません"},
    {123, u"names must not contain a double quote (\")", u"名前に二重引用符 (\") は使えません"},
    {124, u"not a number", u"数値ではありません"},
    {125, u"outside -32768 to 32767", u"-32768〜32767 の範囲外です"},
    {126, u"a selection must be 0, 1 or 2", u"選択値は 0, 1, 2 のいずれかです"},
    {127, u"the file is too large", u"ファイルが大きすぎます"},
    {128, u"the file cannot be opened", u"ファイルを開けません"},
    {130, u"Cannot load the model definition: %1", u"製品定義を読み込めません: %1"},
    {131, u"Cannot load %1: %2", u"%1 を読み込めません: %2"},
    // The line's own reports.
    {200, u"Connection to %1 lost.", u"%1 との接続が切れました。"},
    {201, u"Reconnected to %1.", u"%1 に再接続しました。"},
    {202, u"Waiting for %1 to come back.", u"%1 の再接続を待っています。"},
    {203,
     u"Under Modbus, instrument number 0 is the broadcast address: writes are sent "
     u"without an answer, and reading needs an instrument number from 1 to 95.",
     u"Modbus では機器番号 0 はブロードキャストアドレスです。書込みは応答なしで送信され、"
     u"読込みには機器番号 1～95 が必要です。"},
    {204, u"%1 written as broadcast, not confirmed.",
     u"%1 項目をブロードキャストで書込みました (未確認)。"},
    {205,
     u"Answers came up to %1 ms after their requests, past the time-out, and were dropped. "
     u"A time-out of %2 ms would wait for them.",
     u"応答が要求の最大 %1 ms 後 (タイムアウト後) に届いたため破棄しました。"
     u"タイムアウトを %2 ms にすれば待てます。"},
    {206,
     u"Answers came up to %1 ms after their requests, past the time-out, and were dropped. "
     u"No time-out that can be set waits that long.",
     u"応答が要求の最大 %1 ms 後 (タイムアウト後) に届いたため破棄しました。"
     u"設定できるタイムアウトではそこまで待てません。"},
    {207, u"The line echoes every request (a two-wire adapter).",
     u"回線が要求をそのまま返します (2線式アダプタ)。"},
    // Why a port did not open.
    {210, u"%1: no such device", u"%1: デバイスがありません"},
    {211, u"%1 is in use by another program", u"%1 は他のプログラムが使用中です"},
    {212, u"Permission denied for %1: add the user to the 'dialout' group and log in again",
     u"%1 へのアクセスが拒否されました: ユーザーを 'dialout' "
     u"グループに追加して再ログインしてください"},
    {213, u"%1 does not accept these line settings", u"%1 はこの通信条件を受け付けません"},
    {214, u"%1 could not be opened", u"%1 を開けませんでした"},
    {215,
     u"%1: no serial device found; connect the adapter or choose a device for %1 in the "
     u"communication conditions.",
     u"%1: シリアルデバイスが見つかりません。アダプタを接続するか、通信条件で %1 "
     u"のデバイスを選んでください。"},
    {216, u"The communication conditions are not valid.", u"通信条件が正しくありません。"},
    {217, u"%1 is in use by %2", u"%1 は %2 が使用中です"},
    // Files: what became of an export, a state file that was not loaded, why a save failed.
    {240, u"%1 items appended to %2", u"%1 項目を %2 に追記しました"},
    {241,
     u"%1 could not be loaded: %2\nThe table starts as far as it could be read. The file "
     u"will be kept as %3 when the settings are saved.",
     u"%1 を読み込めませんでした: %2\n読み込めたところまでの内容で開始します。設定を保存するとき、"
     u"このファイルは %3 として残します。"},
    {242, u"The model name contains a double quote or a line end.",
     u"製品名に二重引用符 (\") または改行が含まれています。"},
    {243, u"The name of item %1 contains a double quote or a line end.",
     u"項目 %1 の名前に二重引用符 (\") または改行が含まれています。"},
    {244, u"A name cannot be written in the system's character encoding.",
     u"名前にシステムの文字コードで表せない文字があります。"},
    {245, u"The file cannot be created (%1).", u"ファイルを作成できません (%1)。"},
    {246, u"The file could not be written to the end (%1).",
     u"ファイルを最後まで書き込めませんでした (%1)。"},
    {247, u"The new file could not take the place of the old one (%1).",
     u"新しいファイルで古いファイルを置き換えられませんでした (%1)。"},
    {248, u"A copy of the old file could not be kept as %1 (%2).",
     u"古いファイルのコピーを %1 として残せませんでした (%2)。"},
    {249, u"%1 items written to the new file %2", u"%1 項目を新しいファイル %2 に書き込みました"},
    {380, u"Block reads (Modbus)", u"一括読出し (Modbus)"},
    {381, u"Registers per request", u"1 回の読出し数"},
    {382, u"On, %1 per request", u"あり (1 回 %1 個)"},
    {383, u"Off", u"なし"},
    {384, u"Not used (KORVAN)", u"不使用 (KORVAN)"},
    {385,
     u"Reads consecutive items with one request. Items the instrument refuses in a "
     u"block are read one by one.",
     u"連続した項目を 1 回の要求で読み出します。機器が一括で受け付けない項目は 1 "
     u"項目ずつ読み出します。"},
    // The communication monitor and the feedback of transfers.
    {300, u"Communication monitor(&T)", u"通信モニタ(&T)"},
    {301, u"Communication monitor", u"通信モニタ"},
    {302, u"Time", u"時刻"},
    {303, u"Request", u"要求"},
    {304, u"Answer", u"応答"},
    {305, u"Characters", u"文字"},
    {306, u"Meaning", u"内容"},
    {307, u"Outcome", u"結果"},
    {308, u"Tries", u"回数"},
    {309, u"Round trip (ms)", u"往復 (ms)"},
    {310,
     u"Exchanges %1    Good %2    Refused %3    Checksum errors %4    No answer %5    "
     u"Discarded bytes %6",
     u"交信 %1    正常 %2    拒否 %3    チェックサムエラー %4    無応答 %5    破棄バイト %6"},
    {311, u"Pause", u"一時停止"},
    {312, u"Clear", u"クリア"},
    {313, u"Failures only", u"失敗のみ"},
    {314, u"Save as text...", u"テキストで保存..."},
    {315, u"good", u"正常"},
    {316, u"NAK %1", u"NAK %1"},
    {317, u"exception %1", u"例外 %1"},
    {318, u"checksum error", u"チェックサムエラー"},
    {319, u"no answer", u"無応答"},
    {320, u"no answer (stale answer discarded)", u"無応答 (古い応答を破棄)"},
    {321, u"device lost", u"デバイス切断"},
    {322, u"broadcast, not confirmed", u"ブロードキャスト (未確認)"},
    {323, u"read %1h %2", u"読込み %1h %2"},
    {324, u"write %1h %2 = %3", u"書込み %1h %2 = %3"},
    {325, u"Stop", u"中止"},
    {326, u"item %1 of %2  %3h", u"%2 項目中 %1 項目目  %3h"},
    {327, u"Read: %1 of %2 items good", u"読込み: %2 項目中 %1 項目正常"},
    {328, u"Write: %1 of %2 items good", u"書込み: %2 項目中 %1 項目正常"},
    {329, u"; %1 failed: %2", u"、%1 項目失敗: %2"},
    {330, u"; stopped", u"、中止しました"},
    {331, u"; device lost", u"、デバイス切断"},
    {332, u"refused", u"拒否"},
    {333, u"error or refusal", u"エラーまたは拒否"},
    {334, u"Text files (*.txt)", u"テキストファイル (*.txt)"},
    {336, u"%1: %2 items, %3 good, %4 failed", u"%1: %2 項目、正常 %3、失敗 %4"},
    {337, u"%1: %2 item, %3 good, %4 failed", u"%1: %2 項目、正常 %3、失敗 %4"},
    {338, u", %1 not confirmed", u"、未確認 %1"},
    {339, u", %1 not kept", u"、値が保持されず %1"},
    {340, u", %1 not read (%2)", u"、未読込み %1 (%2)"},
    {341, u", %1 not written (%2)", u"、未書込み %1 (%2)"},
    {342, u", stopped", u"、中止"},
    {343, u", device lost", u"、デバイス切断"},
    {335, u"%1 could not be written.", u"%1 を書き込めませんでした。"},
    {350, u"Rate, bits and parity are not used for a network port: the device server sets them.",
     u"ネットワークポートでは通信速度・ビット・パリティは使いません "
     u"(デバイスサーバーで設定します)。"},
    {351, u"%1 (connected)", u"%1 (接続中)"},
    {352, u"%1 is not a network address (tcp://HOST:PORT)",
     u"%1 はネットワークアドレスではありません (tcp://ホスト:ポート)"},
    {353, u"%1: no connection within %2 s", u"%1: %2 秒以内に接続できませんでした"},
    {400, u"%1h: wrote %2, instrument holds %3", u"%1h: 書込み値 %2、機器の値 %3"},
    {401, u"%1 of %2 items differ; %3 could not be read",
     u"%2 項目中 %1 項目が異なります。%3 項目は読めませんでした"},
    {402, u"Verify after writing", u"書込み後に照合"},
    {403, u"Compare with instrument…(&I)", u"機器と比較…(&I)"},
    {404, u"Comparison with the instrument", u"機器との比較"},
    {405, u"Address", u"アドレス"},
    {406, u"Name", u"名称"},
    {407, u"Table value", u"表の値"},
    {408, u"Instrument value", u"機器の値"},
    {409, u"Differences only", u"相違のみ表示"},
    {410, u"Write differences", u"相違を書込み"},
    {411, u"Take instrument values", u"機器の値を取込み"},
    {412, u"Export CSV", u"CSV出力"},
    {413, u"Close", u"閉じる"},
    {415, u"No item is selected for communication.", u"通信項目が選択されていません。"},
    {416, u"; %1 not kept", u"、%1 項目は値が保持されず"},
    {417, u"verify mismatch: wrote %1, holds %2", u"照合不一致: 書込み値 %1、機器の値 %2"},
    {418, u"    Verify mismatches %1", u"    照合不一致 %1"},
    {419, u"; %1 not read: %2", u"、%1 項目未読込み: %2"},
    {420, u"; %1 not written: %2", u"、%1 項目未書込み: %2"},
    {450, u"Help", u"ヘルプ"},
    {451, u"Contents", u"目次"},
    {452, u"Back", u"戻る"},
    {453, u"Forward", u"進む"},
    {454, u"Find", u"検索"},
    {455, u"\"%1\" not found", u"「%1」は見つかりません"},
    {456, u"Help cannot be shown: %1, and the user guide built into the program is missing.",
     u"ヘルプを表示できません: %1。プログラムに組み込まれたユーザーガイドもありません。"},
    {457, u"the help file %1 does not exist", u"ヘルプファイル %1 がありません"},
    {458, u"no program to open the help file %1 was found (%2)",
     u"ヘルプファイル %1 を開くプログラムが見つかりません (%2)"},
    {500, u"Find instrument…(&F)", u"機器の検索…(&F)"},
    {501, u"Find instrument", u"機器の検索"},
    {502, u"Port", u"ポート"},
    {503, u"The port in effect: %1", u"使用中のポート: %1"},
    {504, u"Every serial device found (%1)", u"見つかったすべてのシリアルデバイス (%1)"},
    {505, u"Protocols", u"プロトコル"},
    {506, u"Instrument numbers", u"機器番号"},
    {507, u"The instrument number in effect: %1", u"使用中の機器番号: %1"},
    {508, u"Also 1 to 95 (and 0 under KORVAN)", u"1～95 も試す (KORVAN では 0 も)"},
    {509, u"Stop at the first instrument found", u"最初に見つかった機器で終了する"},
    {510, u"Wait for an answer", u"応答待ち時間"},
    {511, u"%1 tries. If nothing answers, the search takes about %2.",
     u"%1 通りを試します。応答がなければ約 %2かかります。"},
    {512, u"Start", u"開始"},
    {513, u"Cancel", u"中止"},
    {514, u"Try %1 of %2: %3", u"%2 通り中 %1 通り目: %3"},
    {515, u"Use these settings", u"この設定を使う"},
    {516, u"Model", u"機種"},
    {517, u"Answer", u"応答"},
    {518, u"No instrument answered (%1 tries).", u"応答した機器はありません (%1 通り)。"},
    {519, u"Instruments found: %1 (%2 tries).", u"見つかった機器: %1 台 (%2 通り)。"},
    {520, u"Cancelled after %1 tries; instruments found: %2.",
     u"%1 通りで中止しました。見つかった機器: %2 台。"},
    {521, u"%1 skipped: %2", u"%1 は使えません: %2"},
    {522, u"no serial device found", u"シリアルデバイスが見つかりません"},
    {523, u"%1, %2, %3, instrument %4", u"%1、%2、%3、機器番号 %4"},
    {524, u"%1 (%2h = %3)", u"%1 (%2h = %3)"},
    {525, u"refused %1", u"拒否 %1"},
    {526, u"%1 s", u"%1 秒"},
    {527, u"%1 min %2 s", u"%1 分 %2 秒"},
    {528, u"%1 h %2 min", u"%1 時間 %2 分"},
    {529, u"Stored and applied: %1", u"保存して適用しました: %1"},
    {530,
     u"Each try reads item 0000h once. Any answer of the instrument, a refusal included, "
     u"proves the settings. The conditions in effect are tried first.",
     u"1 通りごとに項目 0000h を 1 回読みます。機器からの応答があれば (拒否を含む) "
     u"その設定が正しいことになります。使用中の通信条件から試します。"},
    {531, u"Refresh", u"再検出"},
    {532, u"%1 is not a device", u"%1 はデバイスではありません"},
    {533, u"%1 is neither a device path (/dev/…) nor a network address (tcp://HOST:PORT)",
     u"%1 はデバイスのパス (/dev/…) でもネットワークアドレス (tcp://ホスト:ポート) でもありません"},
    {534, u"Communication is busy; start again when it has ended.",
     u"通信中です。終了してから開始してください。"},
    {535, u"Only the instrument number in effect was tried; --instruments 1-95 tries them all.",
     u"試したのは使用中の機器番号だけです。--instruments 1-95 ですべての番号を試します。"},
    // Buttons and file choices of the dialogs; the operator reads them in the run's language
    // whether or not the system has the toolkit's own translations.
    {600, u"Cancel", u"キャンセル"},
    {601, u"Yes", u"はい"},
    {602, u"No", u"いいえ"},
    {603, u"OK", u"OK"},
    {604, u"Open", u"開く"},
    {605, u"Save", u"保存"},
    {606, u"Look in:", u"場所:"},
    {607, u"File name:", u"ファイル名:"},
    {608, u"Files of type:", u"ファイルの種類:"},
    {609, u"Folder", u"フォルダ"},
    {613, u"PDF files (*.pdf)", u"PDF ファイル (*.pdf)"},
    {614, u"No report to save.", u"保存するデータ一覧がありません。"},
    {615, u"The PDF could not be written.", u"PDF を書き込めませんでした。"},
    // The system's reasons, in our words.
    {620, u"no such file or folder", u"ファイルまたはフォルダがありません"},
    {621, u"permission denied", u"アクセス権がありません"},
    {622, u"no space left on the disk", u"ディスクの空き容量がありません"},
    {623, u"disk quota exceeded", u"ディスク使用量の上限を超えました"},
    {624, u"read-only file system", u"読取り専用のファイルシステムです"},
    {625, u"a folder of that name is in the way", u"同じ名前のフォルダがあります"},
    {626, u"a part of the path is not a folder", u"パスの途中がフォルダではありません"},
    {627, u"device or resource busy", u"デバイスが使用中です"},
    {628, u"input/output error", u"入出力エラー"},
    {629, u"no such device", u"デバイスがありません"},
    {630, u"too many open files", u"開いているファイルが多すぎます"},
    {631, u"file name too long", u"ファイル名が長すぎます"},
    {632, u"the file exists", u"ファイルが既にあります"},
    {633, u"the device could not be locked", u"デバイスをロックできませんでした"},
    {634, u"connection refused", u"接続を拒否されました"},
    {635, u"host not found", u"ホストが見つかりません"},
    {636, u"network unreachable", u"ネットワークに到達できません"},
    {637, u"the other side closed the connection", u"相手側が接続を閉じました"},
    {638, u"the file is larger than this system allows",
     u"ファイルサイズがシステムの上限を超えます"},
    // Why stored conditions were not applied.
    {640, u"Instrument number \"%1\" is out of range.", u"機器番号「%1」は範囲外です。"},
    {641, u"Time-out \"%1\" is not a number.", u"タイムアウト「%1」は数値ではありません。"},
    {642, u"The port %1 could not be opened.", u"ポート %1 を開けませんでした。"},
    {643, u"Instrument number \"%1\" is not a number from 0 to 95.",
     u"機器番号「%1」は 0～95 の数値ではありません。"},
    {650, u"Select all", u"すべて選択"},
    {651, u"Clear all", u"すべて解除"},
    {652,
     u"No model is loaded yet. To begin, open the model definition file of your instrument "
     u"with %1; then tick the items to transfer.",
     u"製品が読み込まれていません。%1 で機器の製品定義ファイルを開き、転送する項目を選択して"
     u"ください。"},
    {660, u"CSV encoding(&C)", u"CSV の文字コード(&C)"},
    {661, u"UTF-8", u"UTF-8"},
    {662, u"UTF-8 with BOM", u"UTF-8 (BOM 付き)"},
    {663, u"Shift_JIS", u"Shift_JIS"},
    {664, u" (in %1, the encoding the file already has)",
     u" (ファイルの文字コード %1 で書き込みました)"},
    {665, u"The file cannot be written in %1: it cannot hold \"%2\". Choose UTF-8.",
     u"%1 では書き込めません: 「%2」を表せません。UTF-8 を選んでください。"},
    // The command line. Its option names, command names and file names stay as typed.
    {700, u"unknown option '%1' (see --help)", u"不明なオプション '%1' です (--help を参照)"},
    {701, u"missing value after '%1' (see --help)", u"'%1' の後に値がありません (--help を参照)"},
    {702, u"unexpected value after '%1' (see --help)", u"'%1' は値をとりません (--help を参照)"},
    {703, u"no command given (see --help)", u"コマンドがありません (--help を参照)"},
    {704, u"unknown command %1 (see --help)", u"不明なコマンド %1 です (--help を参照)"},
    {705, u"%1 does not apply to %2 (see %2 --help)",
     u"%1 は %2 では使えません (%2 --help を参照)"},
    {706, u"unexpected argument %1 (see %2 --help)",
     u"余分な引数 %1 があります (%2 --help を参照)"},
    {707, u"%1 must be %2", u"%1 には %2 のいずれかを指定してください"},
    {708, u"%1 must be %2..%3", u"%1 には %2～%3 を指定してください"},
    {709, u"%1 must be %2..%3 ms", u"%1 には %2～%3 ms を指定してください"},
    {710, u"%1 must be %2..%3 or a list of them such as 1,3,5-9",
     u"%1 には %2～%3 の番号か、1,3,5-9 のような番号の一覧を指定してください"},
    {711, u"--out must hold %n when several instruments are named",
     u"複数の機器を指定するときは --out に %n を含めてください"},
    {712, u"--table IN.dat is required", u"--table IN.dat を指定してください"},
    {713, u"export-csv needs exactly one OUT.csv (see export-csv --help)",
     u"export-csv には OUT.csv を 1 つだけ指定してください (export-csv --help を参照)"},
    {714, u"report needs --pdf OUT.pdf (see report --help)",
     u"report には --pdf OUT.pdf を指定してください (report --help を参照)"},
    {715, u"%1 needs a file: only export-csv and report --pdf write to standard output (-)",
     u"%1 にはファイルを指定してください。標準出力 (-) に書けるのは export-csv と report --pdf "
     u"だけです"},
    {716, u"standard output is a terminal: send the PDF to a file or a pipe (--pdf - > OUT.pdf)",
     u"標準出力が端末です。PDF はファイルかパイプに送ってください (--pdf - > OUT.pdf)"},
    {717, u"cannot write %1: %2", u"%1 に書き込めません: %2"},
    {718, u"standard output", u"標準出力"},
    {719, u"not written: %1 (the read was interrupted; the file is as it was)",
     u"%1 は書き込みませんでした (読込みが中断されました。ファイルは元のままです)"},
    {720, u"not written: %1 (the device was lost; the file is as it was)",
     u"%1 は書き込みませんでした (デバイスが切断されました。ファイルは元のままです)"},
    {721, u"not written: %1 (interrupted)", u"%1 は書き込みませんでした (中断)"},
    {722, u"written in %1, the encoding the file already has",
     u"ファイルの文字コード %1 で書き込みました"},
    {723, u"instrument %1: exit %2", u"機器番号 %1: 終了ステータス %2"},
    {724, u"read  %1/%2  %3", u"読込み %1/%2  %3"},
    {725, u"write %1/%2  %3", u"書込み %1/%2  %3"},
    {726, u"try %1/%2  %3", u"試行 %1/%2  %3"},
    {727, u"found: %1 \u2014 %2", u"検出: %1 \u2014 %2"},
    {728, u"Serial devices found:", u"検出したシリアルデバイス:"},
    {729, u"(none)", u"(なし)"},
    {730, u"(no device)", u"(デバイスなし)"},
    {731, u"[automatic]", u"[自動]"},
    {732, u"[mapped]", u"[割当て]"},
    {733, u" (%1 not read: %2)", u" (未読込み %1: %2)"},
    {734, u"cannot read %1: %2", u"%1 を読み込めません: %2"},
    {750, u"the window cannot open: %1", u"ウィンドウを開けません: %1"},
    // What screen readers say of controls that show no caption of their own.
    {760, u"Name of item %1", u"項目 %1 の名前"},
    {761, u"Click, Enter, F2 or Space changes the value.",
     u"クリック、Enter、F2、スペースで設定値を変更します。"},
    {762, u"Failed in the last Read or Write.", u"前回の読込みまたは書込みで失敗しました。"},
    {763, u"New value of %1", u"%1 の新しい設定値"},
    {764, u"Transfer progress", u"転送の進み具合"},
    {765, u"Search progress", u"検索の進み具合"},
    {766, u"Exchanges", u"通信の記録"},
    {767, u"Items compared", u"比較した項目"},
    {768, u"Instruments found", u"見つかった機器"},
    {769, u"Zoom", u"表示倍率"},
    {770, u"Page", u"ページ"},
    {771, u"More tools", u"その他のツール"},
    {772, u"Clear the search text", u"検索文字を消去"},
    {773, u"User guide", u"ユーザーガイド"},
    {774, u"Scroll the tabs left", u"タブを左へスクロール"},
    {775, u"Scroll the tabs right", u"タブを右へスクロール"},
    {800, u"line %1: %2", u"%1 行目: %2"},
    {801, u"the file is larger than %1 KiB", u"ファイルが %1 KiB を超えています"},
    {802, u"the text is not UTF-8", u"UTF-8 のテキストではありません"},
    {803, u"neither [item] nor key=value", u"[項目] でも キー=値 でもありません"},
    {804, u"\"%1\" comes before the first [item]", u"\"%1\" が最初の [項目] より前にあります"},
    {805, u"[%1] is not an item 0000 to 007F", u"[%1] は項目 0000～007F ではありません"},
    {806, u"item [%1] is given twice", u"項目 [%1] が 2 回あります"},
    {807, u"unknown key \"%1\" (unit, min, max, kind, note, note.ja)",
     u"不明なキー \"%1\"（unit, min, max, kind, note, note.ja）"},
    {808, u"\"%1\" is given twice for this item", u"この項目に \"%1\" が 2 回あります"},
    {809, u"\"%1\" is not a whole number from -32768 to 32767",
     u"\"%1\" は -32768～32767 の整数ではありません"},
    {810, u"min %1 is above max %2", u"min %1 が max %2 より大きくなっています"},
    {811, u"kind \"%1\" is not setting, live or readonly",
     u"kind \"%1\" は setting, live, readonly のいずれでもありません"},
    {812, u"%1 is longer than %2 characters or holds control characters",
     u"%1 が %2 文字を超えるか、制御文字を含みます"},
    {813, u"%1 to %2", u"%1～%2"},
    {814, u"from %1", u"%1 以上"},
    {815, u"up to %1", u"%1 以下"},
    {816, u"Profile %1 not used: %2", u"プロファイル %1 は使用しません: %2"},
    {817, u"Profile: %1", u"プロファイル: %1"},
    {818, u"Range: %1", u"範囲: %1"},
    {819, u"The value is below the minimum %1 of this item.",
     u"値がこの項目の最小値 %1 より小さくなっています。"},
    {820, u"The value is above the maximum %1 of this item.",
     u"値がこの項目の最大値 %1 より大きくなっています。"},
    {821, u"Unit: %1", u"単位: %1"},
    {822, u"Range: %1", u"範囲: %1"},
    {823, u"Live item: the instrument changes this value by itself; it is not written or compared.",
     u"ライブ項目: 計器がこの値を自ら変えます。書込みと比較の対象外です。"},
    {824, u"Read-only item: the instrument's own; it is not written.",
     u"読出し専用項目: 計器自身の値です。書込みの対象外です。"},
    {825, u"; %1 live or read-only items not written",
     u"、ライブ／読出し専用の %1 項目は書込みませんでした"},
    {826, u"; %1 live or read-only items not compared",
     u"、ライブ／読出し専用の %1 項目は比較しませんでした"},
    {827, u"Include live and read-only items", u"ライブ／読出し専用項目も含める"},
    {828, u"Watch live items", u"ライブ項目を監視"},
    {829, u"Interval", u"間隔"},
    {830, u"Live items", u"ライブ項目"},
    {831, u"No live item is selected.", u"選択されたライブ項目がありません。"},
    {832,
     u"%1: %2 items described: %3 settings, %4 live, %5 read-only; %6 with a range, %7 with a unit",
     u"%1: %2 項目を記述: 設定 %3、ライブ %4、読出し専用 %5、範囲あり %6、単位あり %7"},
    {833, u"no profile for model %1", u"製品 %1 のプロファイルはありません"},
    {834, u"Time", u"時刻"},
    {835, u"nothing to watch: no selected item is live in the profile",
     u"監視する項目がありません: プロファイルでライブの選択項目がありません"},
    {836, u"%1h %2: %3", u"%1h %2: %3"},
    {837, u"not a regular file", u"通常のファイルではありません"},
    {850, u"The change log %1 cannot be written: %2. Nothing was written to the instrument.",
     u"変更記録 %1 に書き込めません: %2。計器には何も書き込んでいません。"},
    {851, u"The change log %1 could not be written: %2. The write was stopped.",
     u"変更記録 %1 に書き込めませんでした: %2。書込みを中止しました。"},
    {852, u"A change record cut short by an interruption was set aside in %1.",
     u"中断で途切れた変更記録を %1 に退避しました。"},
    {853, u"Change history…(&Y)", u"変更履歴…(&Y)"},
    {854, u"Change history", u"変更履歴"},
    {855, u"Instrument", u"計器番号"},
    {856, u"Item", u"項目"},
    {857, u"From", u"開始日"},
    {858, u"To", u"終了日"},
    {859, u"All", u"すべて"},
    {860, u"Time", u"日時"},
    {861, u"Operator", u"作業者"},
    {862, u"Port", u"ポート"},
    {863, u"Name", u"名称"},
    {864, u"Before", u"変更前"},
    {865, u"Written", u"書込み値"},
    {866, u"Outcome", u"結果"},
    {867, u"%1 of %2 records", u"%2 件中 %1 件"},
    {868, u"Commissioning record PDF…", u"試運転記録 PDF…"},
    {869, u"Commissioning record CSV…", u"試運転記録 CSV…"},
    {870, u"confirmed", u"受理"},
    {871, u"verified", u"照合済み"},
    {872, u"not kept", u"保持されず"},
    {873, u"refused %1", u"拒否 %1"},
    {874, u"broadcast not confirmed", u"一斉送信 未確認"},
    {875, u"no answer", u"応答なし"},
    {876, u"answer damaged", u"応答異常"},
    {877, u"device lost", u"通信機器の切断"},
    {878, u"Commissioning record", u"試運転記録"},
    {879, u"Transfer", u"転送"},
    {880, u"Period", u"期間"},
    {881, u"Table file", u"データファイル"},
    {882, u"Computer", u"コンピュータ"},
    {883, u"After", u"変更後"},
    {884, u"Transfer", u"転送"},
    {885, u"Selected transfer only", u"選択した転送のみ"},
    {886, u"%1 lines of the log are not records and were skipped.",
     u"記録として読めない %1 行を飛ばしました。"},
    {887, u"Reload", u"再読込み"},
    {888, u"Close", u"閉じる"},
    {889, u"No changes recorded.", u"変更の記録はありません。"},
    {890, u"--since must be a date (YYYY-MM-DD) or a date and time (YYYY-MM-DDTHH:MM)",
     u"--since には日付 (YYYY-MM-DD) または日時 (YYYY-MM-DDTHH:MM) を指定してください"},
    {891, u"--instrument must be a number from 0 to 255",
     u"--instrument には 0 から 255 の数を指定してください"},
    {892, u"Page %1 of %2", u"%1 / %2 ページ"},
    {893, u"No records match.", u"該当する記録はありません。"},
};

} // namespace

Lang languageFromLocale() {
    // The POSIX precedence: the first of these that is set decides the messages language.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty())
            return value.startsWith("ja") ? Lang::Japanese : Lang::English;
    }
    // None set (Windows, or a bare environment): ask the platform.
    return QLocale::system().language() == QLocale::Japanese ? Lang::Japanese : Lang::English;
}

void setLanguage(Lang lang) {
    g_lang = lang;
}

Lang language() {
    return g_lang;
}

QString text(TextId id) {
    return text(id, g_lang);
}

QString text(TextId id, Lang lang) {
    for (const Entry& entry : kTable) {
        if (entry.id == int(id))
            return QString::fromUtf16(lang == Lang::Japanese ? entry.japanese : entry.english);
    }
    return {};
}

QString withAccessKey(TextId id, char key) {
    return withAccessKey(id, key, g_lang);
}

QString withAccessKey(TextId id, char key, Lang lang) {
    QString caption = text(id, lang);
    const QChar upper = QChar::fromLatin1(key).toUpper();
    if (lang == Lang::English) {
        const qsizetype at = caption.indexOf(upper, 0, Qt::CaseInsensitive);
        if (at >= 0)
            return caption.insert(at, QLatin1Char('&'));
        return caption + QStringLiteral(" (&") + upper + QLatin1Char(')');
    }
    return caption + QStringLiteral("(&") + upper + QLatin1Char(')');
}

QString withoutAccessKey(const QString& caption) {
    // "(&K)" after the text, in English with a blank before it.
    static const QRegularExpression suffix(QStringLiteral("\\s?\\(&[^&\\s]\\)"));
    QString text = caption;
    text.remove(suffix);
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != u'&') {
            plain += text.at(i);
        } else if (i + 1 < text.size() && text.at(i + 1) == u'&') {
            plain += u'&';
            ++i;
        }
    }
    return plain;
}

QList<int> allIds() {
    QList<int> ids;
    for (const Entry& entry : kTable)
        ids << entry.id;
    return ids;
}

QString programTitle(Lang lang) {
    return text(TextId::ProductName, lang) + QLatin1Char(' ') + text(TextId::ProgramKind, lang);
}

} // namespace pmx::strings
