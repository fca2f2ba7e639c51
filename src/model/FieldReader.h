#pragma once
#include <QString>

#include "text/StringTable.h"

namespace pmx {

// Why reading a field failed. The reader never throws; the first failure sticks.
enum class FieldError {
    None,
    PastEnd,       // a field was asked for after the last one
    UnclosedQuote, // a field opened with '"' has no closing '"' on its line
    QuoteInText,   // a text field holds a '"' (cannot be stored in our files)
    NotANumber,    // a 16-bit field is empty or holds anything but one number
    OutOfRange,    // a 16-bit field lies outside -32768..32767
    BadSelection,  // a selection field is not 0, 1 or 2 (the states of a check box)
    FileTooLarge,  // the file is far larger than any file of ours can be
    CannotOpen,    // the file cannot be opened or read
};

// Where and why reading stopped; field and line numbers are 1-based.
struct FieldFailure {
    FieldError kind = FieldError::None;
    int field = 0;
    int line = 0;
};

// Operator-readable text of a failure, e.g. "field 130 (line 130): not a number".
QString fieldFailureText(const FieldFailure& failure, strings::Lang lang);

// Sequential reader of comma/line separated fields, the layout of model definition
// files and table files:
// - blanks (space, tab) before a field are skipped;
// - a field starting with '"' runs to the next '"' on the same line and may hold commas;
//   whatever follows the closing quote up to the comma or line end is skipped;
// - any other field runs to the next comma or line end;
// - the comma or line end after a field is consumed; an empty line is an empty field;
// - CR LF, a lone LF and a lone CR each end one line;
// - asking for a field after the end of the text is an error.
// Once a read fails, every later read fails with the same error.
class FieldReader {
  public:
    explicit FieldReader(QString text);

    // A text field. Fails on a '"' inside an unquoted field or after a closing quote,
    // since such a text could not be written back.
    bool readText(QString* value);

    // Passes over one field whatever it holds (a field that is never used).
    bool skipField();

    // A number, with optional blanks around it, that rounds (halves to even, as
    // selections do) to -32768..32767: "12", "-5", "1.0", "2.5" (2), "1e3". The field must
    // be that number alone: "12abc", "1 2", "&HFF" and an empty field are not numbers,
    // since guessing at them would load wrong values.
    bool readInt16(qint16* value);

    // A selection flag, read leniently so that hand-edited files still load: the number at the
    // start of the field (blanks anywhere are ignored, reading stops at the first
    // character that cannot continue a number, no number gives 0), rounded to the nearest
    // whole number, ties to even. The result must be 0, 1 or 2.
    bool readSelection(qint16* value);

    // Number of the field read last (or failing), 1-based; 0 before the first read.
    int fieldNumber() const { return m_field; }
    // Line on which the field read last (or failing) started, 1-based.
    int lineNumber() const { return m_fieldLine; }
    // True once the text is used up (no further field can be read).
    bool atEnd() const { return m_pos >= m_text.size(); }
    // Characters read so far, the comma or line end after the last field included.
    qsizetype position() const { return m_pos; }

    const FieldFailure& failure() const { return m_failure; }
    QString errorText(strings::Lang lang = strings::Lang::English) const {
        return fieldFailureText(m_failure, lang);
    }

  private:
    bool nextRaw(QString* value, bool* quoted, bool* quoteAfterClose);
    bool fail(FieldError kind);
    void consumeLineEnd();

    QString m_text;
    qsizetype m_pos = 0;
    int m_line = 1;
    int m_field = 0;
    int m_fieldLine = 0;
    FieldFailure m_failure;
};

// The lenient number conversion behind readSelection: the number at the start of the
// text, 0 when there is none, +-infinity when it does not fit a double. Not rounded.
double fieldLeadingNumber(const QString& text);

} // namespace pmx
