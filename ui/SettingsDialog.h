// "Paramètres": the POP3 server and its security, where the mail client
// connects, the limits and the plug-ins with their options, read from
// Orvelane.ini when opened and written back to it (shell/SettingsFile.h
// keeps the rest of the file as it is). OK checks every field, writes the
// file and applies it at once; on a problem the dialog stays open and says
// what is wrong. CListenFailureBox is the box shown when the listener cannot
// open, with its way to this dialog.
#pragma once

#include "shell/SettingsFile.h"

#include <QDialog>
#include <QMessageBox>
#include <functional>
#include <string>

class CMainDialog;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QTableWidget;

class CSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CSettingsDialog(CMainDialog& hub, QWidget* parent = nullptr);

    // Fills the fields from the file as it is now.
    void Load();
    // The fields as the file would say them.
    SSettingsForm Form() const;
    // Checks, writes and applies; closes only when all of it went well.
    void accept() override;

    // The field of a key of the file ("POPServer", "ListenPort", ...), null
    // for the security, the check box and the lists.
    QLineEdit* Field(const std::string& key) const;
    QComboBox* Security() const { return m_pSecurity; }
    QCheckBox* SpamHeaders() const { return m_pSpamHeaders; }
    QListWidget* PlugIns() const { return m_pPlugIns; }
    QComboBox* Installed() const { return m_pInstalled; }
    QTableWidget* Options() const { return m_pOptions; }
    // What the dialog says of the last OK that failed (empty after one that
    // went well).
    QString Problem() const;
    // Tells what takes effect only at the next start (a message box unless
    // replaced).
    std::function<void(const QString&)> m_inform;

private:
    void AddPlugIn(const QString& name);
    void ChooseCertificate();
    void ChooseLibrary();
    void MovePlugIn(int by);
    void AddOption();
    void ShowProblem(const QString& text, QWidget* field);

    CMainDialog& m_hub;
    QLineEdit* m_pServer;
    QComboBox* m_pSecurity;
    QLineEdit* m_pCertificate;
    QLineEdit* m_pPort;
    QLineEdit* m_pAddress;
    QLineEdit* m_pMaxMemoMsg;
    QLineEdit* m_pMaxStoreMB;
    QLineEdit* m_pScanAnswer;
    QLineEdit* m_pMaxMsgSize;
    QCheckBox* m_pSpamHeaders;
    QListWidget* m_pPlugIns;
    QComboBox* m_pInstalled;
    QTableWidget* m_pOptions;
    QLabel* m_pWhere;
    QLabel* m_pProblem;
};

// The listener could not open: the logged line, why, what to do, with
// "Paramètres" and "Quitter".
class CListenFailureBox : public QMessageBox
{
    Q_OBJECT
public:
    CListenFailureBox(const std::string& text, QWidget* parent = nullptr);
    QAbstractButton* SettingsButton() const { return m_pSettings; }
    QAbstractButton* QuitButton() const { return m_pQuit; }

private:
    QAbstractButton* m_pSettings;
    QAbstractButton* m_pQuit;
};

// Shows the box until the listener is open or the user quits: `choose`
// shows it and says whether "Paramètres" was chosen; `settings` then opens
// the settings dialog (modal), after which the box comes back unless the
// listener is now open. True when it is.
bool RunListenFailure(CMainDialog& hub, const std::function<bool(CListenFailureBox&)>& choose,
                      const std::function<void()>& settings, QWidget* parent = nullptr);
