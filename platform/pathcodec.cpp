#include "platform/pathcodec.h"

namespace bellboard::platform {

#if defined(Q_OS_WIN)

QByteArray encodePath(const QString &path)
{
    return path.toLocal8Bit(); // the ANSI code page
}

QString decodePath(const QByteArray &bytes)
{
    return QString::fromLocal8Bit(bytes);
}

#else

namespace {
constexpr char32_t kEscapeBase = 0xDC00; // bytes 0x80..0xFF map to U+DC80..U+DCFF

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one (overlong forms,
// encoded surrogates and code points past U+10FFFF are not valid).
int validSequence(const unsigned char *s, qsizetype i, qsizetype n, char32_t *cp)
{
    const unsigned char b0 = s[i];
    int len = 0;
    char32_t c = 0;
    char32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        c = b0 & 0x1F;
        min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        c = b0 & 0x0F;
        min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        c = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > n)
        return 0;
    for (int k = 1; k < len; ++k) {
        const unsigned char b = s[i + k];
        if ((b & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    *cp = c;
    return len;
}
} // namespace

QString decodePath(const QByteArray &bytes)
{
    const auto *s = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    QString out;
    out.reserve(n);
    for (qsizetype i = 0; i < n;) {
        if (s[i] < 0x80) {
            out.append(QChar(s[i]));
            ++i;
            continue;
        }
        char32_t cp = 0;
        if (const int len = validSequence(s, i, n, &cp)) {
            const char32_t one[1] = {cp};
            out.append(QString::fromUcs4(one, 1));
            i += len;
        } else {
            out.append(QChar(char16_t(kEscapeBase + s[i])));
            ++i;
        }
    }
    return out;
}

QByteArray encodePath(const QString &path)
{
    QByteArray out;
    out.reserve(path.size());
    const qsizetype n = path.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = path.at(i).unicode();
        char32_t cp = u;
        if (QChar::isHighSurrogate(u) && i + 1 < n
            && QChar::isLowSurrogate(path.at(i + 1).unicode())) {
            cp = QChar::surrogateToUcs4(u, path.at(i + 1).unicode());
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out.append(char(u - kEscapeBase)); // an escaped byte goes back as it came
            continue;
        }
        if (cp < 0x80) {
            out.append(char(cp));
        } else if (cp < 0x800) {
            out.append(char(0xC0 | (cp >> 6)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.append(char(0xE0 | (cp >> 12)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else {
            out.append(char(0xF0 | (cp >> 18)));
            out.append(char(0x80 | ((cp >> 12) & 0x3F)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

#endif

} // namespace bellboard::platform
