// The relay's steps behind the hub's notifications: client lines, logins,
// server answers, the mailbox scan and the download. Each takes the hub and
// the session it works on; any step may end the session, so callers check
// Alive before touching it again.
#pragma once

#include "proxy/Login.h"
#include "proxy/Session.h"

#include <cstdint>
#include <string>
#include <string_view>

class CMainDialog;

namespace relay {

// The session is still open (it is in the hub's list under its number).
bool Alive(CMainDialog& hub, const CSession* session, int32_t number);

// Client side (Relay.cpp).
void OnClientData(CMainDialog& hub, CSession* session, int32_t index);
// Handles the waiting client lines one at a time, while nothing the proxy
// started is still unanswered.
void ProcessClientLines(CMainDialog& hub, CSession* session);
// Passes a client line to the server and expects its answer.
void PassToServer(CMainDialog& hub, CSession* session, const std::string& line);

// Server side (Relay.cpp).
void OnServerData(CMainDialog& hub, CSession* session, int32_t index);

// Login (LoginSteps.cpp).
void UserHandling(CMainDialog& hub, CSession* session, const std::string& text);
void AuthCommand(CMainDialog& hub, CSession* session, const std::string& line);
void AuthContinuation(CMainDialog& hub, CSession* session, const std::string& line);
void Greeting(CMainDialog& hub, CSession* session, int32_t index, const std::string& text);
// Ends a session whose server connection could not be opened: no
// disconnection line, the failure line says what happened.
void EndAfterConnectFailure(CMainDialog& hub, CSession* session);

// Local answers in Serving (Serving.cpp).
void LocalList(CMainDialog& hub, CSession* session, const std::string& line);
void LocalRetr(CMainDialog& hub, CSession* session, const std::string& line);
void LocalTop(CMainDialog& hub, CSession* session, const std::string& line);

// Scan (Scan.cpp).
void StartScan(CMainDialog& hub, CSession* session, ScanTrigger trigger, const std::string& line);
void ScanStep(CMainDialog& hub, CSession* session, const std::string& text);
// Asks for the next message still to download, or hands the scan over.
void RequestNext(CMainDialog& hub, CSession* session);

// Download (Download.cpp).
void DownloadStep(CMainDialog& hub, CSession* session, const std::string& bytes);
// Reads a retrieval's status line: the size it announces, or (not "+OK")
// the refusal, logged, which leaves the message to the server.
bool OpenAnswer(CMainDialog& hub, CSession* session, CMailRecord* record, int32_t n, std::string_view status);
enum class Stored { kPartial, kGrace, kComplete, kEnded };
// Adds message bytes of retrieval n to its record, with the size checks,
// the progress and the status text. kGrace: the closing line came early and
// the wait is armed (only when mayWait); kEnded: the session is gone.
Stored StoreAnswerBytes(CMainDialog& hub, CSession* session, CMailRecord* record, int32_t n,
                        std::string_view part, bool mayWait);

// Pipelined retrievals (Pipeline.cpp), for servers that advertise PIPELINING.
void StartPipeline(CMainDialog& hub, CSession* session);
void PipelineStep(CMainDialog& hub, CSession* session, const std::string& bytes);

// The server's silence limit while the proxy waits on it for itself.
void ArmSilence(CMainDialog& hub, CSession* session);
void StopSilence(CSession* session);
void OnServerSilent(CMainDialog& hub, int32_t number);

// The processed copy that a record of this account and UIDL may reuse.
CMailRecord* ReusableCopy(CMainDialog& hub, const std::string& uidl, const std::string& account);

} // namespace relay
