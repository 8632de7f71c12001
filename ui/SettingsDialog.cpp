#include "ui/SettingsDialog.h"

#include "base/Format.h"
#include "base/Texts.h"
#include "shell/MainDialog.h"
#include "ui/UiText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr const char* kSecurityWords[] = {"auto", "tls", "starttls", "none"};

QLineEdit* MakeEdit(QWidget* parent, const char* key, int width = 0)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(key));
    edit->setToolTip(QString::fromLatin1(key));
    if (width > 0)
        edit->setMaximumWidth(width);
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* text, const char* name)
{
    auto* button = new QPushButton(ui::Text(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

} // namespace

CSettingsDialog::CSettingsDialog(CMainDialog& hub, QWidget* parent) : QDialog(parent), m_hub(hub)
{
    setWindowTitle(ui::Text(txt::kSettingsCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const int digits = fontMetrics().horizontalAdvance(QStringLiteral("0000000000"));

    // The POP3 server.
    m_pServer = MakeEdit(this, "POPServer");
    m_pServer->setPlaceholderText(QStringLiteral("pop.example.org:995"));
    m_pSecurity = new QComboBox(this);
    m_pSecurity->setObjectName(QStringLiteral("ServerSecurity"));
    m_pSecurity->setToolTip(QStringLiteral("ServerSecurity"));
    for (const char* word : kSecurityWords)
        m_pSecurity->addItem(QString::fromLatin1(word));
    m_pCertificate = MakeEdit(this, "ServerCertificate");
    auto* browse = MakeButton(this, txt::kSettingsBrowse, "browseCertificate");
    connect(browse, &QPushButton::clicked, this, &CSettingsDialog::ChooseCertificate);
    auto* certificate = new QHBoxLayout;
    certificate->addWidget(m_pCertificate, 1);
    certificate->addWidget(browse);
    auto* serverBox = new QGroupBox(ui::Text(txt::kSettingsServerGroup), this);
    auto* server = new QFormLayout(serverBox);
    server->addRow(ui::Text(txt::kSettingsServer), m_pServer);
    server->addRow(ui::Text(txt::kSettingsSecurity), m_pSecurity);
    server->addRow(ui::Text(txt::kSettingsCertificate), certificate);

    // Where the mail client connects.
    m_pPort = MakeEdit(this, "ListenPort", digits);
    m_pAddress = MakeEdit(this, "ListenAddress");
    m_pAddress->setPlaceholderText(ui::Text(txt::kSettingsAddressHint));
    auto* listenBox = new QGroupBox(ui::Text(txt::kSettingsListenGroup), this);
    auto* listen = new QFormLayout(listenBox);
    listen->addRow(ui::Text(txt::kSettingsPort), m_pPort);
    listen->addRow(ui::Text(txt::kSettingsAddress), m_pAddress);

    // The limits.
    m_pMaxMemoMsg = MakeEdit(this, "MaxMemoMsg", digits);
    m_pMaxStoreMB = MakeEdit(this, "MaxStoreMB", digits);
    m_pScanAnswer = MakeEdit(this, "ScanAnswerSeconds", digits);
    m_pMaxMsgSize = MakeEdit(this, "MaxMsgSize", digits);
    m_pSpamHeaders = new QCheckBox(ui::Text(txt::kSettingsSpamHeaders), this);
    m_pSpamHeaders->setObjectName(QStringLiteral("SpamHeaders"));
    m_pSpamHeaders->setToolTip(QStringLiteral("SpamHeaders"));
    auto* limitsBox = new QGroupBox(ui::Text(txt::kSettingsLimitsGroup), this);
    auto* limits = new QFormLayout(limitsBox);
    limits->addRow(ui::Text(txt::kSettingsMaxMemoMsg), m_pMaxMemoMsg);
    limits->addRow(ui::Text(txt::kSettingsMaxStoreMB), m_pMaxStoreMB);
    limits->addRow(ui::Text(txt::kSettingsScanAnswer), m_pScanAnswer);
    limits->addRow(ui::Text(txt::kSettingsMaxMsgSize), m_pMaxMsgSize);
    limits->addRow(m_pSpamHeaders);

    // The plug-ins, in the order they are asked, and their options.
    m_pPlugIns = new QListWidget(this);
    m_pPlugIns->setObjectName(QStringLiteral("PlugIn"));
    m_pPlugIns->setToolTip(QStringLiteral("PlugIn"));
    m_pInstalled = new QComboBox(this);
    m_pInstalled->setObjectName(QStringLiteral("installed"));
    auto* add = MakeButton(this, txt::kSettingsAddPlugIn, "addPlugIn");
    auto* library = MakeButton(this, txt::kSettingsAddLibrary, "addLibrary");
    auto* remove = MakeButton(this, txt::kSettingsRemove, "removePlugIn");
    auto* up = MakeButton(this, txt::kSettingsUp, "up");
    auto* down = MakeButton(this, txt::kSettingsDown, "down");
    connect(add, &QPushButton::clicked, this, [this] {
        if (!m_pInstalled->currentText().isEmpty())
            AddPlugIn(m_pInstalled->currentText());
    });
    connect(library, &QPushButton::clicked, this, &CSettingsDialog::ChooseLibrary);
    connect(remove, &QPushButton::clicked, this, [this] { delete m_pPlugIns->currentItem(); });
    connect(up, &QPushButton::clicked, this, [this] { MovePlugIn(-1); });
    connect(down, &QPushButton::clicked, this, [this] { MovePlugIn(1); });
    m_pOptions = new QTableWidget(0, 2, this);
    m_pOptions->setObjectName(QStringLiteral("Options"));
    m_pOptions->setHorizontalHeaderLabels({ui::Text(txt::kSettingsOptionKey), ui::Text(txt::kSettingsOptionValue)});
    m_pOptions->horizontalHeader()->setStretchLastSection(true);
    m_pOptions->verticalHeader()->hide();
    m_pOptions->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    m_pOptions->setColumnWidth(0, fontMetrics().horizontalAdvance(QStringLiteral("xxxxxxxxxx.xxxxxxxx")));
    auto* addOption = MakeButton(this, txt::kSettingsAddPlugIn, "addOption");
    auto* removeOption = MakeButton(this, txt::kSettingsRemove, "removeOption");
    connect(addOption, &QPushButton::clicked, this, &CSettingsDialog::AddOption);
    connect(removeOption, &QPushButton::clicked, this, [this] {
        if (m_pOptions->currentRow() >= 0)
            m_pOptions->removeRow(m_pOptions->currentRow());
    });
    auto* plugInsBox = new QGroupBox(ui::Text(txt::kSettingsPlugInsGroup), this);
    auto* plugIns = new QGridLayout(plugInsBox);
    plugIns->addWidget(new QLabel(ui::Text(txt::kSettingsPlugInOrder), this), 0, 0, 1, 2);
    plugIns->addWidget(m_pPlugIns, 1, 0, 6, 1);
    plugIns->addWidget(m_pInstalled, 1, 1);
    plugIns->addWidget(add, 2, 1);
    plugIns->addWidget(library, 3, 1);
    plugIns->addWidget(remove, 4, 1);
    plugIns->addWidget(up, 5, 1);
    plugIns->addWidget(down, 6, 1);
    plugIns->addWidget(new QLabel(ui::Text(txt::kSettingsOptions), this), 7, 0, 1, 2);
    plugIns->addWidget(m_pOptions, 8, 0, 1, 2);
    auto* optionButtons = new QHBoxLayout;
    optionButtons->addStretch(1);
    optionButtons->addWidget(addOption);
    optionButtons->addWidget(removeOption);
    plugIns->addLayout(optionButtons, 9, 0, 1, 2);
    plugIns->setRowStretch(8, 1);
    plugIns->setColumnStretch(0, 1);

    // Where it is written, what went wrong, and the buttons.
    m_pWhere = new QLabel(this);
    m_pWhere->setWordWrap(true);
    m_pProblem = new QLabel(this);
    m_pProblem->setObjectName(QStringLiteral("problem"));
    m_pProblem->setWordWrap(true);
    m_pProblem->setStyleSheet(QStringLiteral("color: #b00000"));
    m_pProblem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pProblem->hide();
    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(ui::Text(txt::kOk), QDialogButtonBox::AcceptRole);
    auto* cancel = buttons->addButton(ui::Text(txt::kSettingsCancel), QDialogButtonBox::RejectRole);
    ok->setObjectName(QStringLiteral("ok"));
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSettingsDialog::reject);

    auto* left = new QVBoxLayout;
    left->addWidget(serverBox);
    left->addWidget(listenBox);
    left->addWidget(limitsBox);
    left->addStretch(1);
    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addWidget(plugInsBox, 1);
    auto* column = new QVBoxLayout(this);
    column->addLayout(columns, 1);
    column->addWidget(m_pWhere);
    column->addWidget(m_pProblem);
    column->addWidget(buttons);

    m_inform = [this](const QString& text) { QMessageBox::information(this, windowTitle(), text); };
    resize(std::max(minimumSizeHint().width(), fontMetrics().averageCharWidth() * 136), minimumSizeHint().height());
}

QLineEdit* CSettingsDialog::Field(const std::string& key) const
{
    for (QLineEdit* edit : {m_pServer, m_pCertificate, m_pPort, m_pAddress, m_pMaxMemoMsg, m_pMaxStoreMB,
                            m_pScanAnswer, m_pMaxMsgSize})
        if (edit->objectName() == QString::fromStdString(key))
            return edit;
    return nullptr;
}

QString CSettingsDialog::Problem() const
{
    return m_pProblem->isHidden() ? QString() : m_pProblem->text();
}

void CSettingsDialog::Load()
{
    const SSettingsForm form = ReadForm(m_hub.LoadSettingsFile());
    m_pServer->setText(ui::Text(form.popServer));
    m_pSecurity->setCurrentIndex(std::max(m_pSecurity->findText(ui::Text(form.security)), 0));
    m_pCertificate->setText(ui::Text(form.certificate));
    m_pPort->setText(ui::Text(form.listenPort));
    m_pAddress->setText(ui::Text(form.listenAddress));
    m_pMaxMemoMsg->setText(ui::Text(form.maxMemoMsg));
    m_pMaxStoreMB->setText(ui::Text(form.maxStoreMB));
    m_pScanAnswer->setText(ui::Text(form.scanAnswerSeconds));
    m_pMaxMsgSize->setText(ui::Text(form.maxMsgSize));
    m_pSpamHeaders->setChecked(form.spamHeaders);
    m_pPlugIns->clear();
    for (const std::string& name : form.plugIns)
        m_pPlugIns->addItem(ui::Text(name));
    m_pInstalled->clear();
    for (const std::string& name : m_hub.PlugIns().Installed())
        m_pInstalled->addItem(ui::Text(name));
    m_pOptions->setRowCount(0);
    for (const auto& [key, value] : form.options) {
        const int row = m_pOptions->rowCount();
        m_pOptions->insertRow(row);
        m_pOptions->setItem(row, 0, new QTableWidgetItem(ui::Text(key)));
        m_pOptions->setItem(row, 1, new QTableWidgetItem(ui::Text(value)));
    }
    const std::string path = m_hub.SettingsPath().empty() ? std::string(txt::kSettingsFileName) : m_hub.SettingsPath();
    m_pWhere->setText(ui::Text(StrFormat(txt::kSettingsWhere, path.c_str())));
    m_pProblem->hide();
}

SSettingsForm CSettingsDialog::Form() const
{
    // Spaces are never part of a value of the file: those around a field
    // go, those inside it are refused by the checks.
    const auto text = [](const QLineEdit* edit) { return ui::Bytes(edit->text().trimmed()); };
    SSettingsForm form;
    form.popServer = text(m_pServer);
    form.security = ui::Bytes(m_pSecurity->currentText());
    form.certificate = text(m_pCertificate);
    form.listenPort = text(m_pPort);
    form.listenAddress = text(m_pAddress);
    form.maxMemoMsg = text(m_pMaxMemoMsg);
    form.maxStoreMB = text(m_pMaxStoreMB);
    form.scanAnswerSeconds = text(m_pScanAnswer);
    form.maxMsgSize = text(m_pMaxMsgSize);
    form.spamHeaders = m_pSpamHeaders->isChecked();
    for (int i = 0; i < m_pPlugIns->count(); ++i)
        form.plugIns.push_back(ui::Bytes(m_pPlugIns->item(i)->text().trimmed()));
    for (int row = 0; row < m_pOptions->rowCount(); ++row) {
        const QTableWidgetItem* key = m_pOptions->item(row, 0);
        const QTableWidgetItem* value = m_pOptions->item(row, 1);
        const std::string k = key ? ui::Bytes(key->text().trimmed()) : std::string();
        const std::string v = value ? ui::Bytes(value->text().trimmed()) : std::string();
        if (!k.empty() || !v.empty())
            form.options.emplace_back(k, v);
    }
    return form;
}

void CSettingsDialog::ShowProblem(const QString& text, QWidget* field)
{
    m_pProblem->setText(text);
    m_pProblem->show();
    if (field)
        field->setFocus();
}

void CSettingsDialog::accept()
{
    const SSettingsForm form = Form();
    const std::vector<SFormProblem> problems =
        CheckForm(form, [this](const std::string& name) { return m_hub.PlugInPath(name); });
    if (!problems.empty()) {
        QStringList lines;
        for (const SFormProblem& problem : problems)
            lines << ui::Text(problem.message);
        QWidget* field = Field(problems.front().key);
        if (!field)
            field = findChild<QWidget*>(QString::fromStdString(problems.front().key));
        ShowProblem(lines.join(QLatin1Char('\n')), field);
        return;
    }
    const CMainDialog::SSaved saved = m_hub.SaveSettings(form);
    if (!saved.written) {
        ShowProblem(ui::Text(StrFormat(txt::kSettingsUnwritable, m_hub.SettingsPath().c_str(), saved.error.c_str())),
                    nullptr);
        return;
    }
    if (!saved.listening) {
        // Saved, but the mail client has nowhere to connect: the dialog
        // stays for another port or address.
        ShowProblem(ui::PaneText(m_hub.ListenFailureText()), m_pPort);
        return;
    }
    m_pProblem->hide();
    if (!saved.atRestart.empty() && m_inform) {
        QStringList lines;
        for (const std::string& line : saved.atRestart)
            lines << ui::Text(line);
        m_inform(lines.join(QLatin1Char('\n')));
    }
    QDialog::accept();
}

void CSettingsDialog::AddPlugIn(const QString& name)
{
    m_pPlugIns->addItem(name);
    m_pPlugIns->setCurrentRow(m_pPlugIns->count() - 1);
}

void CSettingsDialog::ChooseCertificate()
{
    const QString path = QFileDialog::getOpenFileName(this, ui::Text(txt::kSettingsCertificate), m_pCertificate->text(),
                                                      QStringLiteral("PEM (*.pem *.crt *.cer);;* (*)"));
    if (!path.isEmpty())
        m_pCertificate->setText(path);
}

void CSettingsDialog::ChooseLibrary()
{
    const QString path = QFileDialog::getOpenFileName(this, ui::Text(txt::kSettingsAddLibrary), QString(),
                                                      QStringLiteral("*.so (*.so);;* (*)"));
    if (!path.isEmpty())
        AddPlugIn(path);
}

void CSettingsDialog::MovePlugIn(int by)
{
    const int row = m_pPlugIns->currentRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= m_pPlugIns->count())
        return;
    QListWidgetItem* item = m_pPlugIns->takeItem(row);
    m_pPlugIns->insertItem(to, item);
    m_pPlugIns->setCurrentRow(to);
}

void CSettingsDialog::AddOption()
{
    // Prefilled with the selected plug-in's prefix.
    QString prefix;
    if (const QListWidgetItem* item = m_pPlugIns->currentItem())
        prefix = ui::Text(PlugInOptionPrefix(ui::Bytes(item->text()))) + QLatin1Char('.');
    const int row = m_pOptions->rowCount();
    m_pOptions->insertRow(row);
    m_pOptions->setItem(row, 0, new QTableWidgetItem(prefix));
    m_pOptions->setItem(row, 1, new QTableWidgetItem(QString()));
    m_pOptions->setCurrentCell(row, 0);
    m_pOptions->editItem(m_pOptions->item(row, 0));
}

// ---- the listener's failure ---------------------------------------------------

CListenFailureBox::CListenFailureBox(const std::string& text, QWidget* parent) : QMessageBox(parent)
{
    setIcon(QMessageBox::Warning);
    setWindowTitle(ui::Text(txt::kListenFailedCaption));
    setText(ui::PaneText(text));
    m_pSettings = addButton(ui::Text(txt::kSettingsButton), QMessageBox::AcceptRole);
    m_pQuit = addButton(ui::Text(txt::kQuitButton), QMessageBox::RejectRole);
    m_pSettings->setObjectName(QStringLiteral("settings"));
    m_pQuit->setObjectName(QStringLiteral("quit"));
    setDefaultButton(static_cast<QPushButton*>(m_pSettings));
    setEscapeButton(m_pQuit);
}

bool RunListenFailure(CMainDialog& hub, const std::function<bool(CListenFailureBox&)>& choose,
                      const std::function<void()>& settings, QWidget* parent)
{
    while (!hub.Proxy().Listening()) {
        CListenFailureBox box(hub.ListenFailureText(), parent);
        if (!choose(box))
            return false;
        settings();
    }
    return true;
}
