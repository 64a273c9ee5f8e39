#include "modbus/Porttarget.h"

#include "modbus/Unitmap.h"

#include <QString>
#include <algorithm>

namespace {

bool AllDigits(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; });
}

// The longest comm port name taken: "COM" and four digits.
constexpr qsizetype MaxComNameLength = 7;

} // namespace

std::optional<TPortTarget> ParsePortTarget(const std::string& text, std::string* error) {
    const auto refuse = [&](const std::string& reason) -> std::optional<TPortTarget> {
        if (error != nullptr)
            *error = reason;
        return std::nullopt;
    };
    TPortTarget target;
    const size_t at = text.rfind('@');
    const std::string port = text.substr(0, at);
    if (at != std::string::npos) {
        const QString digits = QString::fromStdString(text.substr(at + 1));
        bool ok = !digits.isEmpty() && AllDigits(digits);
        const int address = ok ? digits.toInt(&ok, 10) : 0;
        if (!ok || address < Unitmap::MinSlaveAddress || address > Unitmap::MaxSlaveAddress) {
            return refuse("Not a slave address: " + text.substr(at + 1) + " (use " +
                          std::to_string(Unitmap::MinSlaveAddress) + " to " +
                          std::to_string(Unitmap::MaxSlaveAddress) + ")");
        }
        target.address = address;
        target.addressGiven = true;
    }
    if (!port.empty() && port.front() == '/') {
        target.kind = TPortKind::Path;
        target.name = port;
        return target;
    }
    const QString name = QString::fromStdString(port);
    if (name.size() > 3 && name.size() <= MaxComNameLength &&
        name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
        const QString digits = name.mid(3);
        bool ok = AllDigits(digits);
        const int number = ok ? digits.toInt(&ok, 10) : 0;
        if (ok && number >= 1) {
            target.kind = TPortKind::ComPort;
            target.port = number;
            target.name = ComPortName(number);
            return target;
        }
    }
    return refuse("Not a comm port: " + port + " (use COMn or a device path)");
}

std::string ComPortName(int32_t number) {
    return "COM" + std::to_string(number);
}
