#include "qt/root_prompt.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <limits>

#include "window/window_design.h"

namespace kestrafin::qt {

int prompt_box_width(const QFont& font) {
    const int letters = QFontMetrics(font).horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return (letters / 26 + 1) / 2 * window::design::kPromptBoxDialogUnits / 4;
}

std::optional<QString> ask_for_root(QWidget* parent, const QString& title, const QString& prompt,
                                    const QStringList& recent) {
    QDialog dialog(parent);
    dialog.setWindowTitle(title);
    auto* label = new QLabel(prompt, &dialog);
    label->setTextFormat(Qt::PlainText);
    auto* box = new QComboBox(&dialog);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(recent);
    box->setCurrentIndex(-1);
    box->clearEditText();
    // A path of any length, as the system takes it.
    box->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    label->setBuddy(box);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), &dialog);
    // The box and the button take the room of the Windows prompt's box.
    box->setMinimumWidth(prompt_box_width(box->font()) - browse->sizeHint().width());
    browse->setAutoDefault(false);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&dialog, box] {
        const QString start = box->currentText().isEmpty() ? QDir::homePath() : box->currentText();
        const QString chosen = QFileDialog::getExistingDirectory(
            &dialog, QStringLiteral("Choose the root folder"), start);
        if (!chosen.isEmpty()) box->setEditText(QDir::toNativeSeparators(chosen));
        box->setFocus();
    });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* line = new QHBoxLayout;
    line->addWidget(box, 1);
    line->addWidget(browse);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(label);
    layout->addLayout(line);
    layout->addWidget(buttons);
    box->setFocus();
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return box->currentText();
}

}  // namespace kestrafin::qt
