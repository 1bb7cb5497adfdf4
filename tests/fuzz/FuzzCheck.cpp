#include "FuzzCheck.h"

#include "KivStrUtils.h"

#include <cerrno>
#include <cmath>
#include <string>

namespace fuzzsupport {

std::optional<long double> readBack(const QString& text, const QString& separator) {
    QString c = text.trimmed();
    c.replace(separator.isEmpty() ? localeDecimalSeparator() : separator, QStringLiteral("."));
    const std::string s = c.toStdString();
    if (s.empty() || s.find_first_not_of("+-0123456789.Ee") != std::string::npos)
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long double v = std::strtold(s.c_str(), &end);
    // A tiny value reads as a denormal or zero (with ERANGE); only an overflow is no reading.
    if (end != s.c_str() + s.size() || (errno == ERANGE && std::isinf(v)))
        return std::nullopt;
    return v;
}

} // namespace fuzzsupport
