#pragma once
// The progress line on standard error and the messages said around it.
#include "Commands.h"

#include <QString>
#include <cstdio>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace pmx::cli {

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
        err() << '\r' << text.leftJustified(m_width) << '\r';
        err().flush();
        m_width = int(text.size());
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
