// The catalogue's texts in the Qt shell's widgets.
#pragma once

#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include "base/messages.h"

inline QString CatalogueText(MessageId id) {
    const std::string_view text = MessageText(id);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Qt's standard buttons say "OK" and "Cancel" (with their access keys) in
// English; in another language they take the catalogue's words.
inline void TranslateButton(QAbstractButton* button, MessageId id) {
    if (button != nullptr && MessageLanguage() != "en") {
        button->setText(CatalogueText(id));
    }
}

inline void TranslateButtons(QDialogButtonBox& buttons) {
    TranslateButton(buttons.button(QDialogButtonBox::Ok), MessageId::ButtonOk);
    TranslateButton(buttons.button(QDialogButtonBox::Cancel), MessageId::ButtonCancel);
}

inline void TranslateButtons(QMessageBox& box) {
    TranslateButton(box.button(QMessageBox::Ok), MessageId::ButtonOk);
}

// What a screen reader says of a box or dialog: its title as the name, its
// text as the description (read out when the window appears).
inline void DescribeWindow(QWidget& window, const QString& name, const QString& description) {
    window.setAccessibleName(name);
    window.setAccessibleDescription(description);
}

inline void DescribeBox(QMessageBox& box) {
    DescribeWindow(box, box.windowTitle(), box.text());
}
