// The About dialog: the maker, support contacts and the installed version of
// the filter, asked of the service until it gives one. One object lives for
// the whole process and is shown as often as the user asks.
#pragma once

#include <QDialog>

#include <string>

class QLabel;

class CInfoDialogQt : public QDialog {
    Q_OBJECT
public:
    CInfoDialogQt();

    // Asks for the version while none is known, then shows the dialog and
    // returns when it is closed. A second call while it is open raises it.
    void ShowModal();

    // The installed version as the service reported it (8-bit); once known,
    // kept for the life of the process.
    std::string m_version;

private:
    QLabel* m_versionLabel;
};
