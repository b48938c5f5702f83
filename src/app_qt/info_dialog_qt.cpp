#include "app_qt/info_dialog_qt.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app_qt/catalogue_qt.h"
#include "base/text.h"

CInfoDialogQt::CInfoDialogQt() : m_versionLabel(new QLabel(this)) {
    setWindowTitle(CatalogueText(MessageId::AboutTitle));
    auto* layout = new QVBoxLayout(this);
    m_versionLabel->setAlignment(Qt::AlignCenter);
    m_versionLabel->setTextFormat(Qt::PlainText);  // the service's words, never markup
    m_versionLabel->setObjectName(QStringLiteral("version"));
    m_versionLabel->setMinimumHeight(m_versionLabel->fontMetrics().height());
    layout->addWidget(m_versionLabel);
    auto* text = new QLabel(CatalogueText(MessageId::AboutText), this);
    DescribeWindow(*this, windowTitle(), text->text());
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setCenterButtons(true);
    TranslateButtons(*buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

void CInfoDialogQt::Open(bool asking) {
    ShowVersion(asking);
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    show();
}

void CInfoDialogQt::SetVersion(const std::string& version) {
    if (m_version.empty()) {
        m_version = version;
    }
    ShowVersion(false);
}

void CInfoDialogQt::ShowVersion(bool asking) {
    QString line;
    if (!m_version.empty()) {
        const std::u16string version = DecodeExternalText(m_version, nullptr);
        line = CatalogueText(MessageId::AboutVersion)
                   .replace(QLatin1String("%s"), QString::fromStdU16String(version));
    } else if (asking) {
        line = CatalogueText(MessageId::UpdatePleaseWait);  // the answer takes its place
    }
    // Qt tells a screen reader of each change: the label's new name (the
    // version arriving while the dialog is open) and the dialog's description.
    m_versionLabel->setText(line);
    m_versionLabel->setVisible(!line.isEmpty());
    const QString about = CatalogueText(MessageId::AboutText);
    const QString description = line.isEmpty() ? about : line + QLatin1Char('\n') + about;
    if (description != accessibleDescription()) {
        setAccessibleDescription(description);
    }
}
