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

    // Shows the dialog without waiting for it to close, or raises it when it
    // is open. While `asking`, the version's line says to wait for the answer
    // (SetVersion); without a version and not asking, it is hidden. The
    // dialog's accessible description is its text with the version's line.
    void Open(bool asking);

    // The service's answer: a version is kept for the life of the process;
    // empty (no usable answer) hides the version's line.
    void SetVersion(const std::string& version);

    // The installed version as the service reported it (8-bit); once known,
    // kept for the life of the process.
    std::string m_version;

private:
    void ShowVersion(bool asking);

    QLabel* m_versionLabel;
};
