// Every French text of the system, as Windows-1252 bytes. The UTF-8 form stands
// in the comment beside each escaped text. Hex escapes are cut with string
// concatenation ("D\xE9" "connect") so that a following letter is not read as
// part of the escape.
#pragma once

namespace txt {

// ---- application shell -------------------------------------------------------
inline constexpr const char kSocketInitFailed[] = "Echec de l'initialisation des sockets Windows.";
inline constexpr const char kListenFailed[] = "Ouverture du port 110 en local impossible";
inline constexpr const char kListenFailedCaption[] = "Socket Error";
inline constexpr const char kLoading[] = "Chargement de ";
inline constexpr const char kSettingsFileName[] = "Orvelane.ini";
inline constexpr const char kSettingsUnreadable[] = "Impossible de lire Orvelane.ini\r\n";
inline constexpr const char kDebugEnable[] = "Debug enable\r\n";
inline constexpr const char kDebugDisable[] = "Debug disable\r\n";
inline constexpr const char kLogShortened[] = " (...)\r\n";
inline constexpr const char kLogPassword[] = "PASS ";
inline constexpr const char kLogPasswordMasked[] = "PASS *****\r\n";
inline constexpr const char kSelfTestFileName[] = "mail.txt";
// Efface la listes des émails analysés
inline constexpr const char kListCleared[] = "Efface la listes des \xE9" "mails analys\xE9" "s\r\n";
inline constexpr const char kAnalysisOff[] = "Analyse d\xE9" "sactiv\xE9" "e\r\n"; // Analyse désactivée
inline constexpr const char kAnalysisOn[] = "Analyse activ\xE9" "e\r\n";            // Analyse activée
inline constexpr const char kServerBanner[] = "Orvelane Server V2.20";

// ---- POP3 proxy ----------------------------------------------------------------

// ---- decoding ------------------------------------------------------------------
inline constexpr const char kLogBase64[] = "Message encod\xE9" "e en base64\r\n";        // Message encodé en base64
inline constexpr const char kLog8Bit[] = "Message encod\xE9" "e en 8 Bit\r\n";          // Message encodé en 8 Bit
inline constexpr const char kLog7Bit[] = "Message encod\xE9" "e en 7 Bit\r\n";          // Message encodé en 7 Bit
inline constexpr const char kLogQuotedPrintable[] = "Message encod\xE9" "e en ISO8859(Q)\r\n"; // Message encodé en ISO8859(Q)
inline constexpr const char kLogEntities[] = "Message encod\xE9" "e en ISO8859(A)\r\n";  // Message encodé en ISO8859(A)
inline constexpr const char kLogHeaderWords[] = "Message encod\xE9" "e en RFC2047\r\n"; // Message encodé en RFC2047

// ---- filtering -----------------------------------------------------------------

// ---- windows -------------------------------------------------------------------

} // namespace txt
