#include "strip/sheetjson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace strip {

namespace {

QJsonObject size(qint64 w, qint64 h)
{
    return {{QStringLiteral("w"), w}, {QStringLiteral("h"), h}};
}

} // namespace

QByteArray sheetJson(const Sheet &sheet, const QList<JsonFrame> &frames, const QString &imageName,
                     const QString &pixelFormat)
{
    QJsonArray list;
    for (const JsonFrame &f : frames) {
        const QRect &r = f.rect;
        list.append(QJsonObject{
            {QStringLiteral("filename"), f.name},
            {QStringLiteral("frame"), QJsonObject{{QStringLiteral("x"), r.x()}, {QStringLiteral("y"), r.y()},
                                                  {QStringLiteral("w"), r.width()}, {QStringLiteral("h"), r.height()}}},
            {QStringLiteral("rotated"), false},
            {QStringLiteral("trimmed"), false},
            {QStringLiteral("spriteSourceSize"),
             QJsonObject{{QStringLiteral("x"), 0}, {QStringLiteral("y"), 0},
                         {QStringLiteral("w"), r.width()}, {QStringLiteral("h"), r.height()}}},
            {QStringLiteral("sourceSize"), size(r.width(), r.height())},
        });
    }
    const QJsonObject meta{
        {QStringLiteral("app"), QStringLiteral("corvane-strip")},
        {QStringLiteral("version"), QStringLiteral(CORVANE_VERSION)},
        {QStringLiteral("image"), imageName},
        {QStringLiteral("format"), pixelFormat},
        {QStringLiteral("size"), size(sheet.width, sheet.height)},
        {QStringLiteral("scale"), QStringLiteral("1")},
        {QStringLiteral("columns"), sheet.columns},
        {QStringLiteral("rows"), sheet.rows},
        {QStringLiteral("cell"), size(sheet.cell.width(), sheet.cell.height())},
        {QStringLiteral("padding"), sheet.padding},
        {QStringLiteral("margin"), sheet.margin},
    };
    return QJsonDocument(QJsonObject{{QStringLiteral("frames"), list}, {QStringLiteral("meta"), meta}})
        .toJson(QJsonDocument::Indented);
}

} // namespace strip
