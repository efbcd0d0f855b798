// The system's texts are 8-bit strings; the widgets want QString. Latin-1
// maps every byte to one character and back, so a text that goes through a
// widget (a port name picked from a list) comes back byte for byte.
#pragma once

#include <QString>
#include <string>

inline QString QStr(const std::string& text) { return QString::fromLatin1(text.data(), qsizetype(text.size())); }

inline std::string StdStr(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), size_t(bytes.size()));
}
