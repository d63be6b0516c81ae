#include "strip/publish/depfile.h"

#include "picture/base/nativepath.h"

namespace strip {

namespace {

// As GCC escapes its -MD output, which Make and Ninja both read: a blank after its backslashes,
// doubled, a '#' and a '$' made plain; a target's '%' would make a pattern rule in Make.
QByteArray escaped(const QString &path, bool target)
{
    const QByteArray bytes = picture::toNativePath(path);
    QByteArray out;
    int backslashes = 0;
    for (const char c : bytes) {
        if (c == ' ' || c == '\t') {
            out += QByteArray(backslashes, '\\') + '\\';
        } else if (c == '#') {
            out += '\\';
        } else if (c == '$') {
            out += '$';
        } else if (c == '%' && target) {
            out += '\\';
        }
        backslashes = c == '\\' ? backslashes + 1 : 0;
        out += c;
    }
    return out;
}

} // namespace

QByteArray dependencyFile(const QStringList &outputs, const QStringList &inputs)
{
    QByteArray out;
    for (const QString &output : outputs)
        out += (out.isEmpty() ? "" : " ") + escaped(output, true);
    out += ':';
    for (const QString &input : inputs)
        out += " \\\n  " + escaped(input, false);
    out += '\n';
    for (const QString &input : inputs)
        out += '\n' + escaped(input, true) + ":\n";
    return out;
}

QString dependencyRefusal(const QString &depfile, const QStringList &paths)
{
    for (const QString &path : paths)
        if (path.contains(u'\n') || path.contains(u'\r'))
            return QStringLiteral("Cannot write %1: %2 holds a line break, which no dependency file can name.")
                .arg(picture::displayPath(depfile), picture::shownName(path));
    return {};
}

} // namespace strip
