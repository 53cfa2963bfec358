#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRawFont>
#include <QTextEdit>
#include <QWidget>

#include <string>
#include <vector>

namespace tavoro::test {

// Every text a window tree shows or may show: window titles, labels, buttons, menu entries, group
// titles, placeholders, tool tips and the choices of combo boxes.
inline QStringList shownTexts(const QWidget& root)
{
    QStringList texts{root.windowTitle(), root.toolTip()};
    auto widgets = root.findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        texts << widget->toolTip() << widget->windowTitle();
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            texts << label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            texts << button->text();
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            texts << group->title();
        } else if (auto* field = qobject_cast<QLineEdit*>(widget)) {
            texts << field->placeholderText();
        } else if (auto* editor = qobject_cast<QPlainTextEdit*>(widget)) {
            texts << editor->placeholderText();
        } else if (auto* editor = qobject_cast<QTextEdit*>(widget)) {
            texts << editor->placeholderText();
        } else if (auto* choice = qobject_cast<QComboBox*>(widget)) {
            for (int i = 0; i < choice->count(); ++i) {
                texts << choice->itemText(i);
            }
        }
        for (QAction* action : widget->actions()) {
            texts << action->text() << action->toolTip();
        }
    }
    texts.removeAll(QString());
    return texts;
}

// The characters of these texts that neither the interface font nor the emoji font can draw, each
// with the text it appears in. Spaces and control characters are not drawn and not checked.
inline std::vector<std::string> missingGlyphs(const QStringList& texts)
{
    const QRawFont text = QRawFont::fromFont(QFont("Noto Sans CJK SC"));
    const QRawFont emoji = QRawFont::fromFont(QFont("Noto Color Emoji"));
    std::vector<std::string> missing;
    for (const QString& shown : texts) {
        for (const char32_t c : shown.toUcs4()) {
            if (QChar::isSpace(c) || QChar::category(c) == QChar::Other_Control || c == 0xFE0F || c == 0x200D) {
                continue;
            }
            if (!text.supportsCharacter(c) && !emoji.supportsCharacter(c)) {
                missing.push_back(QString::fromUcs4(&c, 1).toStdString() + " in \"" + shown.toStdString() + "\"");
            }
        }
    }
    return missing;
}

} // namespace tavoro::test
