#pragma once
// The progress line on standard error and the messages said around it.
#include "Commands.h"

#include <QString>
#include <algorithm>
#include <cstdio>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace pmx::cli {

// Columns a text takes on a terminal: the wide characters of Japanese take two.
inline int displayWidth(const QString& text) {
    int width = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (c.isLowSurrogate())
            continue;
        const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) ||
                          (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) ||
                          (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60) ||
                          (u >= 0xFFE0 && u <= 0xFFE6);
        width += wide ? 2 : 1;
    }
    return width;
}

inline bool stderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

// Standard error's lines: the progress line rewrites itself in place, and whatever else
// is said there first wipes it so that it never runs into a message.
class StatusLine {
  public:
    explicit StatusLine(bool shown) : m_shown(shown) {}
    void show(const QString& text) {
        if (!m_shown)
            return;
        // The rest of a longer line before it is blanked, counted in columns.
        const int width = displayWidth(text);
        err() << '\r' << text << QString(std::max(0, m_width - width), QLatin1Char(' ')) << '\r';
        err().flush();
        m_width = width;
    }
    void wipe() {
        if (m_width == 0)
            return;
        err() << '\r' << QString(m_width, QLatin1Char(' ')) << '\r';
        err().flush();
        m_width = 0;
    }
    void say(const QString& line) {
        wipe();
        err() << line << '\n';
        err().flush();
    }

  private:
    bool m_shown;
    int m_width = 0;
};

} // namespace pmx::cli
