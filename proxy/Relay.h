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

class CProxyServer;

namespace relay {


// Client side (Relay.cpp).
void OnClientData(CProxyServer& hub, CSession* session, int32_t index);
// Handles the waiting client lines one at a time, while nothing the proxy
// started is still unanswered.
void ProcessClientLines(CProxyServer& hub, CSession* session);
// Passes a client line to the server and expects its answer.
void PassToServer(CProxyServer& hub, CSession* session, const std::string& line);

// Server side (Relay.cpp).
void OnServerData(CProxyServer& hub, CSession* session, int32_t index);

// Login (LoginSteps.cpp).
void UserHandling(CProxyServer& hub, CSession* session, const std::string& text);
void AuthCommand(CProxyServer& hub, CSession* session, const std::string& line);
void AuthContinuation(CProxyServer& hub, CSession* session, const std::string& line);
void Greeting(CProxyServer& hub, CSession* session, int32_t index, const std::string& text);

// Local answers in Serving (Serving.cpp).
void LocalList(CProxyServer& hub, CSession* session, const std::string& line);
void LocalRetr(CProxyServer& hub, CSession* session, const std::string& line);
void LocalTop(CProxyServer& hub, CSession* session, const std::string& line);

// Scan (Scan.cpp).
void StartScan(CProxyServer& hub, CSession* session, ScanTrigger trigger, const std::string& line);
void ScanStep(CProxyServer& hub, CSession* session, const std::string& text);
// Asks for the next message still to download, or hands the scan over.
void RequestNext(CProxyServer& hub, CSession* session);

// Download (Download.cpp).
void DownloadStep(CProxyServer& hub, CSession* session, const std::string& bytes);
// Reads a retrieval's status line: the size it announces, or (not "+OK")
// the refusal, logged, which leaves the message to the server.
bool OpenAnswer(CProxyServer& hub, CSession* session, CMailRecord* record, int32_t n, std::string_view status);
enum class Stored { kPartial, kGrace, kComplete, kEnded };
// Adds message bytes of retrieval n to its record, with the size checks,
// the progress and the status text. kGrace: the closing line came early and
// the wait is armed (only when mayWait); kEnded: the session is gone.
Stored StoreAnswerBytes(CProxyServer& hub, CSession* session, CMailRecord* record, int32_t n,
                        std::string_view part, bool mayWait);

// Pipelined retrievals (Pipeline.cpp), for servers that advertise PIPELINING.
void StartPipeline(CProxyServer& hub, CSession* session);
void PipelineStep(CProxyServer& hub, CSession* session, const std::string& bytes);

// The server's silence limit while the proxy waits on it for itself.
void ArmSilence(CProxyServer& hub, CSession* session);
void StopSilence(CSession* session);
void OnServerSilent(CProxyServer& hub, int32_t number);

} // namespace relay
