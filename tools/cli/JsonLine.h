#pragma once
// One JSON object on one line (JSON Lines), its fields in the order they were added, so
// that the objects read like the text columns they stand for.
#include <QString>

namespace pmx::cli {

class JsonLine {
  public:
    JsonLine& addText(const char* key, const QString& text);
    JsonLine& addNumber(const char* key, qint64 number);
    JsonLine& addBool(const char* key, bool value);
    JsonLine& addNull(const char* key);
    // "{"key":value,...}", without a line end.
    QString text() const { return QLatin1Char('{') + m_fields + QLatin1Char('}'); }

  private:
    JsonLine& field(const char* key, const QString& value);
    QString m_fields;
};

// `text` as a JSON string, quotes included; control characters escaped, everything else
// as it is (the line goes out as UTF-8).
QString jsonString(const QString& text);

} // namespace pmx::cli
