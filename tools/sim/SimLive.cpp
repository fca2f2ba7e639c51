#include "SimLive.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace pmx::sim {

bool parseLiveMotion(const QString& text, LiveMotion* motion, QString* error) {
    const QStringList parts = text.split(QLatin1Char(':'));
    const auto fail = [&](const QString& why) {
        *error = QStringLiteral("--live %1: %2 (ITEM:sine|ramp:SECONDS:AMPLITUDE)").arg(text, why);
        return false;
    };
    if (parts.size() != 4)
        return fail(QStringLiteral("four parts"));
    bool ok = false;
    const int item = parts[0].toInt(&ok, 16);
    if (!ok || parts[0].size() != 4 || item < 0 || item > 0x7F)
        return fail(QStringLiteral("item 0000 to 007F"));
    LiveMotion m;
    m.item = item;
    if (parts[1] == QLatin1String("sine"))
        m.shape = LiveMotion::Shape::Sine;
    else if (parts[1] == QLatin1String("ramp"))
        m.shape = LiveMotion::Shape::Ramp;
    else
        return fail(QStringLiteral("shape sine or ramp"));
    m.periodSeconds = parts[2].toDouble(&ok);
    if (!ok || !(m.periodSeconds >= 0.1 && m.periodSeconds <= 86400))
        return fail(QStringLiteral("period 0.1 to 86400 seconds"));
    m.amplitude = parts[3].toInt(&ok);
    if (!ok || m.amplitude < 1 || m.amplitude > 32767)
        return fail(QStringLiteral("amplitude 1 to 32767"));
    *motion = m;
    return true;
}

std::int16_t liveValue(const LiveMotion& motion, std::int16_t centre, double seconds) {
    const double phase = std::fmod(std::max(0.0, seconds) / motion.periodSeconds, 1.0);
    const double offset = motion.shape == LiveMotion::Shape::Sine
                              ? std::sin(2 * std::numbers::pi * phase) * motion.amplitude
                              : (2 * phase - 1) * motion.amplitude;
    const double v = std::round(double(centre) + offset);
    return std::int16_t(std::clamp(v, -32768.0, 32767.0));
}

} // namespace pmx::sim
