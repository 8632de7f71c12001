// Takes a picture of every window with a sample mailbox analysed: the main
// window (with and without a notification area), the rule editor, the
// analysis dialog, the history and the settings. Writes PNG files into the folder given as argument.
//   orvelane_screenshots OUTPUT_FOLDER
#include "base/Format.h"
#include "base/Texts.h"
#include "ui/AnalyseDialog.h"
#include "ui/HistoryDialog.h"
#include "ui/MailListItemModel.h"
#include "ui/MainWindow.h"
#include "ui/RulesDialog.h"
#include "ui/SettingsDialog.h"
#include "ui/TrayIcon.h"
#include "ui/UiFixture.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTest>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool Save(QWidget& window, const QString& folder, const char* name)
{
    window.show();
    window.raise();
    QTest::qWait(200);
    const QString path = folder + "/" + name;
    const bool ok = window.grab().save(path);
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), window.width(), window.height());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    // --screen FILE [X Y WIDTH HEIGHT]: the screen as it is, or a part of it
    // (the notification area with the program's icon in it).
    if (argc >= 3 && std::string(argv[1]) == "--screen") {
        int box[4] = {0, 0, -1, -1};
        for (int i = 0; i < 4 && i + 3 < argc; ++i)
            box[i] = std::atoi(argv[i + 3]);
        const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(0, box[0], box[1], box[2], box[3]);
        const bool saved = !picture.isNull() && picture.save(QString::fromLocal8Bit(argv[2]));
        std::printf("%s %s (%dx%d)\n", saved ? "wrote" : "FAILED", argv[2], picture.width(), picture.height());
        return saved ? 0 : 1;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvelane_screenshots OUTPUT_FOLDER | --screen FILE [X Y WIDTH HEIGHT]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    CWorkFolder work;
    work.Write("blacklist.txt", kSampleRules);

    CMainDialog hub;
    QuietHub(hub, PinnedTime(9, 41, 7));
    bool ok = true;
    for (bool withTray : {true, false}) {
        hub.OnClearList();
        auto window = std::make_unique<CMainWindow>(hub, withTray);
        window->setWindowIcon(CTrayIcon::IdleIcon());
        // A mail check under way: a client connected, the sample analysed,
        // the third of four messages downloading.
        hub.Connections().Add("127.0.0.1");
        hub.SetTrayIcon(true, false);
        window->setWindowTitle(QString::fromLatin1(txt::kServerBanner));
        hub.AddLog(StrFormat(txt::kClientAccepted, 127, 0, 0, 1, 49152), true);
        AnalyseSample(hub, SampleMessages());
        hub.Progress().Set(75, 40);
        hub.Progress().SetStatus(StrFormat(txt::kDownloadStatus, 3, 4, 12, 30));
        window->MailList()->selectionModel()->select(window->MailModel()->index(7, 0),
                                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
        ok &= Save(*window, folder, withTray ? "main-window.png" : "main-window-no-tray.png");
        if (!withTray)
            continue;

        window->OnRules();
        window->RulesDialog()->Tabs()->setCurrentIndex(4);
        ok &= Save(*window->RulesDialog(), folder, "rule-editor.png");
        window->RulesDialog()->hide();

        window->OnMailListRightClick();
        ok &= Save(*window->AnalyseDialog(), folder, "analysis.png");
        window->AnalyseDialog()->hide();

        // The history of the same messages, kept in a store.
        if (hub.MessageStore().Open(work.Path() + "/Orvelane.db", 1 << 20)) {
            std::vector<const CMailRecord*> kept;
            for (CMailRecord* record : hub.Proxy().m_processedMails)
                kept.push_back(record);
            hub.MessageStore().Put("pop.example.org:110 alice", kept);
            window->OnHistory();
            ok &= Save(*window->HistoryDialog(), folder, "history.png");
            window->HistoryDialog()->hide();
        }
        // The settings of a user with a provider over TLS and two engines.
        work.Write("Orvelane.ini", "# Orvelane\r\nPOPServer=pop.example.org:995\r\nServerSecurity=tls\r\n"
                                   "ListenPort=1110\r\nPlugIn=bogofilter\r\nPlugIn=spamd\r\n"
                                   "spamd.Address=127.0.0.1:783\r\nbogofilter.Command=/usr/bin/bogofilter\r\n");
        hub.SetSettingsPath(work.Path() + "/Orvelane.ini");
        hub.PlugIns().SetSearchFolders({ORVELANE_PLUGIN_FOLDER});
        window->OnSettings();
        ok &= Save(*window->SettingsDialog(), folder, "settings.png");
        window->SettingsDialog()->hide();
        hub.Connections().Clear();
    }
    return ok ? 0 : 1;
}
