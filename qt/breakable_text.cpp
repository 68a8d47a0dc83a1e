#include "qt/breakable_text.h"

#include <QTextBoundaryFinder>

namespace kestrafin::qt {

namespace {

bool is_separator(QChar character) {
    return character == u'/' || character == u'\\';
}

// `name` (no separator in it) with a break opportunity between any two of its
// characters.
void append_breakable_anywhere(QString& out, const QString& name) {
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, name);
    qsizetype from = 0;
    for (qsizetype to = characters.toNextBoundary(); to > 0; to = characters.toNextBoundary()) {
        if (from > 0) out += kBreakOpportunity;
        out += QStringView(name).sliced(from, to - from);
        from = to;
    }
}

void append_breakable_word(QString& out, QStringView word) {
    qsizetype start = 0;
    while (start < word.size()) {
        qsizetype end = start;
        while (end < word.size() && !is_separator(word[end])) ++end;
        const QStringView name = word.sliced(start, end - start);
        if (name.size() > kLongWord)
            append_breakable_anywhere(out, name.toString());
        else
            out += name;
        if (end == word.size()) break;
        out += word[end];
        if (end + 1 < word.size()) out += kBreakOpportunity;
        start = end + 1;
    }
}

}  // namespace

QString breakable_text(const QString& text) {
    QString out;
    out.reserve(text.size());
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && !text[end].isSpace()) ++end;
        const QStringView word = QStringView(text).sliced(start, end - start);
        if (word.size() > kLongWord)
            append_breakable_word(out, word);
        else
            out += word;
        while (end < text.size() && text[end].isSpace()) out += text[end++];
        start = end;
    }
    return out;
}

}  // namespace kestrafin::qt
