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
inline constexpr const char kRuleFileUnreadable[] = "Impossible de lire BlackList.txt\r\n";
inline constexpr const char kAnalysingMsg[] = "Analyse du Msg N\xB0" "%d\r\n"; // Analyse du Msg N°%d
// Msg N°%d vient d'un utilisateur connu
inline constexpr const char kTrustedSender[] = "Msg N\xB0" "%d vient d'un utilisateur connu\r\n";
// La taille du message est supérieur à la taille max d'un mail contenant des spams
inline constexpr const char kMessageTooLarge[] =
    "La taille du message est sup\xE9" "rieur \xE0 la taille max d'un mail contenant des spams\r\n";
inline constexpr const char kAnalysisEnd[] = "Find d'analyse du Msg N\xB0" "%d\r\n"; // Find d'analyse du Msg N°%d
// Msg N°%d est un Spam de type %s (%s)
inline constexpr const char kSpamFound[] = "Msg N\xB0" "%d est un Spam de type %s (%s)\r\n";
inline constexpr const char kSearchWithHtml[] = "Recherche avant d'enlever le HTML\r\n";
// Recherche après avoir enlevé le HTML
inline constexpr const char kSearchWithoutHtml[] = "Recherche apr\xE8" "s avoir enlev\xE9" " le HTML\r\n";
// Suppression de tous les caratères de séparation
inline constexpr const char kRemovingSeparators[] =
    "Suppression de tous les carat\xE8" "res de s\xE9" "paration\r\n";
// Recherche après avoir enlevé tous les caratères de séparation et converti en caractères classiques
inline constexpr const char kSearchWithoutSeparators[] =
    "Recherche apr\xE8" "s avoir enlev\xE9" " tous les carat\xE8" "res de s\xE9" "paration et converti en "
    "caract\xE8" "res classiques\r\n";
// Suppression de tous les caratères répétés
inline constexpr const char kRemovingRepeats[] = "Suppression de tous les carat\xE8" "res r\xE9" "p\xE9" "t\xE9" "s\r\n";
// Recherche après avoir enlevé tous les caratères répétés
inline constexpr const char kSearchWithoutRepeats[] =
    "Recherche apr\xE8" "s avoir enlev\xE9" " tous les carat\xE8" "res r\xE9" "p\xE9" "t\xE9" "s\r\n";
inline constexpr const char kPlugInLoaded[] = "Chargement de %s r\xE9" "ussi\r\n"; // Chargement de %s réussi
inline constexpr const char kPlugInAnalysing[] = "Analyse via plugin %s\r\n";

// Spam types.
inline constexpr const char kTypeTrust[] = "Trust";
inline constexpr const char kTypeTagged[] = "_SPAM_";
inline constexpr const char kTypeNbrTo[] = "Nbr To";
inline constexpr const char kTypeNbrCc[] = "Nbr CC";
inline constexpr const char kTypeRelay[] = "Relay server";
inline constexpr const char kTypeFrom[] = "From";
inline constexpr const char kTypeRetPath[] = "RetPath";
inline constexpr const char kTypeTo[] = "To";
inline constexpr const char kTypeCc[] = "CC";
inline constexpr const char kTypeSubject[] = "Subject";
inline constexpr const char kTypeBody[] = "Body";
inline constexpr const char kTypePlugIn[] = "PlugIn";

// Filter variant labels, spelled as they have always been shown.
inline constexpr const char kLabelStringSearch[] = "String search";
inline constexpr const char kLabelSubjectConverted[] =
    "Subject search string with no separate char and with converstion ( '`.,;^!%?*$)";
inline constexpr const char kLabelSubjectRepeats[] = "Subject search string with repeat car truncate";
inline constexpr const char kLabelHtml[] = "HTML";
inline constexpr const char kLabelNoHtml[] = "no HTML";
// no HTML and no separate char and convertion char ( '`.,;^!%?*$) @0éèà
inline constexpr const char kLabelNoSeparators[] =
    "no HTML and no separate char and convertion char ( '`.,;^!%?*$) @0\xE9\xE8\xE0";
inline constexpr const char kLabelNoRepeats[] =
    "no HTML, no separate char, convertion charand squeeze repeat char";

// The tag put in front of a spam's Subject, and the Subject line added when a
// message has none.
inline constexpr const char kSpamTag[] = "_SPAM_ ";
inline constexpr const char kSubjectLine[] = "Subject: \r\n";

// ---- windows -------------------------------------------------------------------

} // namespace txt
