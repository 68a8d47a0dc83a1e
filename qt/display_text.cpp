#include "qt/display_text.h"

namespace kestrafin::qt {

namespace {

bool needs_stand_in(char32_t code_point) {
    switch (QChar::category(code_point)) {
        case QChar::Other_Control:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return true;
        case QChar::Other_Format:
            // Joiners and soft hyphens (direction BN) stay: they change no order.
            return QChar::direction(code_point) != QChar::DirBN;
        default:
            return false;
    }
}

}  // namespace

QString stand_in_for(char32_t code_point) {
    if (!needs_stand_in(code_point)) return {};
    // Spelled out rather than as a picture, which many fonts lack.
    return QStringLiteral("<U+%1>").arg(
        QString::number(static_cast<uint>(code_point), 16).toUpper().rightJustified(4, u'0'));
}

QString display_text(std::string_view utf8) {
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    QString shown;
    shown.reserve(text.size());
    for (const QChar character : text) {
        // Every character that needs a stand-in lies in the basic plane.
        const QString stand_in =
            character.isSurrogate() ? QString() : stand_in_for(character.unicode());
        if (stand_in.isEmpty())
            shown.append(character);
        else
            shown.append(stand_in);
    }
    return shown;
}

}  // namespace kestrafin::qt
