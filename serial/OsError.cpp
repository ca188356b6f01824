#include "serial/OsError.h"

#include <clocale>
#include <cstring>
#include <locale.h>

QString OsErrorText(int error)
{
    if (error <= 0)
        return QStringLiteral("no reason given");
    const char* name = ::strerrorname_np(error);
    if (!name)
        return QStringLiteral("error %1").arg(error);
    static const locale_t plain = ::newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const char* text = plain ? ::strerror_l(error, plain) : std::strerror(error);
    return QStringLiteral("%1 (%2)").arg(QString::fromLatin1(name), QString::fromUtf8(text));
}
