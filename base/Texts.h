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
inline constexpr const char kStoreFileName[] = "Orvelane.db";
inline constexpr const char kSettingsUnreadable[] = "Impossible de lire Orvelane.ini\r\n";
inline constexpr const char kSettingsSearch[] = "Recherche de %s dans %s\r\n";
// What reading Orvelane.ini did not take as written, one line each, with the
// line's number (the key and value shown without their spaces):
// Orvelane.ini ligne %d : clé %s inconnue, ligne ignorée
inline constexpr const char kSettingsUnknownKey[] =
    "Orvelane.ini ligne %d : cl\xE9" " %s inconnue, ligne ignor\xE9" "e\r\n";
// Orvelane.ini ligne %d : « %s » sans « = », ligne ignorée
inline constexpr const char kSettingsNoEquals[] =
    "Orvelane.ini ligne %d : \xAB" " %s \xBB" " sans \xAB" " = \xBB" ", ligne ignor\xE9" "e\r\n";
// Orvelane.ini ligne %d : %s=%s n'est pas un nombre entier, lu comme %d
inline constexpr const char kSettingsNotNumber[] =
    "Orvelane.ini ligne %d : %s=%s n'est pas un nombre entier, lu comme %d\r\n";
// Orvelane.ini ligne %d : %s=%s hors des limites %d à %d, ramené à %d
inline constexpr const char kSettingsOutOfRange[] =
    "Orvelane.ini ligne %d : %s=%s hors des limites %d \xE0" " %d, ramen\xE9" " \xE0" " %d\r\n";
// Orvelane.ini ligne %d : %s=%s n'est pas un port (1 à 65535)
inline constexpr const char kSettingsBadPort[] =
    "Orvelane.ini ligne %d : %s=%s n'est pas un port (1 \xE0" " 65535)\r\n";
// Orvelane.ini ligne %d : %s=%s inconnu (auto, tls, starttls ou none), %s reste en vigueur
inline constexpr const char kSettingsUnknownWord[] =
    "Orvelane.ini ligne %d : %s=%s inconnu (auto, tls, starttls ou none), %s reste en vigueur\r\n";
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
inline constexpr const char kCheckingMails[] = "-- Checking mails\r\n";
// Connexion du client de %d.%d.%d.%d sur Orvelane:%d acceptée
inline constexpr const char kClientAccepted[] =
    "Connexion du client de %d.%d.%d.%d sur Orvelane:%d accept\xE9" "e\r\n";
// Connexion du client de %s sur Orvelane:%d acceptée (a client without an IPv4 address)
inline constexpr const char kClientAcceptedOther[] =
    "Connexion du client de %s sur Orvelane:%d accept\xE9" "e\r\n";
inline constexpr const char kGreetingFormat[] = "+OK %s\r\n";
// Connexion de %s refusée : %d clients déjà connectés
inline constexpr const char kTooManyClients[] =
    "Connexion de %s refus\xE9" "e : %d clients d\xE9j\xE0 connect\xE9s\r\n";
inline constexpr const char kDisconnected[] = "N\xB0" "%d D\xE9" "connect\xE9\r\n"; // N°%d Déconnecté
inline constexpr const char kListenPortFailed[] = "Ouverture du port %d en local impossible";
inline constexpr const char kListening[] = "\xC9" "coute sur %s:%d\r\n"; // Écoute sur %s:%d
inline constexpr const char kSocketClientError[] = "Socket Client Error\r\n";
inline constexpr const char kWaitForBuffer[] = "Wait for Buffer\r\n";
inline constexpr const char kBufferArrived[] = "Buffer arrived\r\n";
inline constexpr const char kTracePrefix[] = "N\xB0" "%d - "; // N°%d -
inline constexpr const char kLabelToServer[] = "C   O->P | ";
inline constexpr const char kLabelToClient[] = "C<-O   P | ";
inline constexpr const char kLabelFromClient[] = "C->O   P | ";
inline constexpr const char kLabelFromServer[] = "C   O<-P | ";
// La connexion à %s:%d (POP3) a échouée
inline constexpr const char kServerConnectFailed[] = "La connexion \xE0 %s:%d (POP3) a \xE9" "chou\xE9" "e\r\n";
// Nom de serveur POP3 ambigu : %s (une adresse IPv6 s'écrit entre crochets, par exemple [%s]:%s)
inline constexpr const char kServerNameAmbiguous[] =
    "Nom de serveur POP3 ambigu : %s (une adresse IPv6 s'\xE9" "crit entre crochets, par exemple [%s]:%s)\r\n";
// N°%d - Connection à %s:%d
inline constexpr const char kServerGreeted[] = "N\xB0" "%d - Connection \xE0 %s:%d\r\n";
// Le client POP3 demande la méthode d'authentification
inline constexpr const char kAuthRequested[] =
    "Le client POP3 demande la m\xE9" "thode d'authentification\r\n";
// Message n°%s est déjà téléchargé et analysé
inline constexpr const char kAlreadyOne[] =
    "Message n\xB0%s est d\xE9j\xE0 t\xE9l\xE9" "charg\xE9 et analys\xE9\r\n";
// Messages n°%s sont déjà téléchargés et analysés
inline constexpr const char kAlreadyMany[] =
    "Messages n\xB0%s sont d\xE9j\xE0 t\xE9l\xE9" "charg\xE9s et analys\xE9s\r\n";
inline constexpr const char kUnixToDos[] = "Conversion UNIX->DOS : ajout de %d octect(s)\r\n";
// Message n°%d sur %d - Téléchargement de %dko sur %dko
inline constexpr const char kDownloadStatus[] =
    "Message n\xB0%d sur %d - T\xE9l\xE9" "chargement de %dko sur %dko";
// N°%d - Message n°%d refusé par le serveur, il lui est laissé sans analyse
inline constexpr const char kRetrRefused[] =
    "N\xB0" "%d - Message n\xB0%d refus\xE9 par le serveur, il lui est laiss\xE9 sans analyse\r\n";
// N°%d - Le serveur POP3 ne répond plus, session terminée
inline constexpr const char kServerSilent[] =
    "N\xB0" "%d - Le serveur POP3 ne r\xE9pond plus, session termin\xE9" "e\r\n";
// N°%d - Message n°%d trop volumineux, session terminée
inline constexpr const char kRetrievalTooLarge[] =
    "N\xB0" "%d - Message n\xB0%d trop volumineux, session termin\xE9" "e\r\n";
// N�%d - R�ponse du serveur POP3 hors protocole (%s), session termin�e
inline constexpr const char kProtocolErrorLog[] =
    "N\xB0" "%d - R\xE9ponse du serveur POP3 hors protocole (%s), session termin\xE9" "e\r\n";
// N�%d - Le serveur POP3 refuse la connexion : %s
inline constexpr const char kGreetingRefused[] = "N\xB0" "%d - Le serveur POP3 refuse la connexion : %s\r\n";
// Why an answer of the server breaks the protocol: for the log, then for the client.
inline constexpr const char kWhyNotStatusLog[] = "ligne d'\xE9tat sans +OK ni -ERR"; // ligne d'�tat sans +OK ni -ERR
inline constexpr const char kWhyNotStatus[] = "status line is neither +OK nor -ERR";
inline constexpr const char kWhyTooLongLog[] = "ligne ou r\xE9ponse trop longue"; // ligne ou r�ponse trop longue
inline constexpr const char kWhyTooLong[] = "line or answer too long";
inline constexpr const char kWhyUnowedLog[] = "octets qui ne r\xE9pondent \xE0 aucune commande"; // octets qui ne r�pondent � aucune commande
inline constexpr const char kWhyUnowed[] = "bytes that answer no command";
// deux lignes d'état pour une réponse
inline constexpr const char kWhyDoubleStatusLog[] = "deux lignes d'\xE9tat pour une r\xE9ponse";
inline constexpr const char kWhyDoubleStatus[] = "two status lines for one answer";
// N�%d - Ligne du client de plus de 64 Ko, session termin�e
inline constexpr const char kClientLineTooLong[] =
    "N\xB0" "%d - Ligne du client de plus de 64 Ko, session termin\xE9" "e\r\n";
// N�%d - Client inactif depuis %d minutes, session termin�e
inline constexpr const char kClientIdle[] =
    "N\xB0" "%d - Client inactif depuis %d minutes, session termin\xE9" "e\r\n";
// Plus de descripteur de fichier libre : nouvelles connexions suspendues
inline constexpr const char kAcceptPaused[] =
    "Plus de descripteur de fichier libre : nouvelles connexions suspendues\r\n";
// ---- the store of analysed messages -----------------------------------------------
// Base des messages analys�s illisible (%s) : mise de c�t� sous %s, une base vide la remplace
inline constexpr const char kStoreSetAside[] =
    "Base des messages analys\xE9s illisible (%s) : mise de c\xF4t\xE9 sous %s, une base vide la remplace\r\n";
// Base des messages analys�s indisponible (%s) : les messages ne sont gard�s qu'en m�moire
inline constexpr const char kStoreUnavailable[] =
    "Base des messages analys\xE9s indisponible (%s) : les messages ne sont gard\xE9s qu'en m\xE9moire\r\n";
// Journal non �crit sur la sortie standard (%s) : seule la fen�tre le garde
inline constexpr const char kLogEchoFailed[] =
    "Journal non \xE9" "crit sur la sortie standard (%s) : seule la fen\xEAtre le garde\r\n";
// Why: base verrouillée par un autre programme; disque plein
inline constexpr const char kStoreWhyBusy[] = "base verrouill\xE9" "e par un autre programme";
inline constexpr const char kStoreWhyFull[] = "disque plein";
// Texte du message %s endommag� dans la base, il sera t�l�charg� de nouveau
inline constexpr const char kStoreRecordDamaged[] =
    "Texte du message %s endommag\xE9 dans la base, il sera t\xE9l\xE9" "charg\xE9 de nouveau\r\n";
// N�%d - Message n�%d introuvable dans la base des messages analys�s
inline constexpr const char kStoredTextMissing[] =
    "N\xB0" "%d - Message n\xB0%d introuvable dans la base des messages analys\xE9s\r\n";
// N�%d - Relev� long : le client re�oit les messages 1 � %d sur %d, la suite au prochain relev�
inline constexpr const char kScanWindow[] =
    "N\xB0" "%d - Relev\xE9 long : le client re\xE7oit les messages 1 \xE0 %d sur %d, la suite au prochain relev\xE9\r\n";
// POP3 answers of the proxy itself. PIPELINING is offered in both CAPA
// answers: the client's lines are taken one at a time and each is answered
// before the next goes to the server, whatever the server can do.
inline constexpr const char kAuthMechanisms[] = "+OK Supported authentication mechanisms:\r\nLOGIN\r\n.\r\n";
inline constexpr const char kCapabilities[] =
    "+OK Capability list follows\r\nUSER\r\nUIDL\r\nTOP\r\nPIPELINING\r\nSASL LOGIN PLAIN\r\n.\r\n";
inline constexpr const char kQuitBeforeLogin[] = "+OK\r\n";
inline constexpr const char kNoTls[] = "-ERR STLS not available\r\n";
inline constexpr const char kNotLoggedIn[] = "-ERR not logged in: USER or AUTH first\r\n";
inline constexpr const char kAuthUnknown[] = "-ERR unsupported authentication mechanism\r\n";
inline constexpr const char kAuthCancelled[] = "-ERR authentication cancelled\r\n";
inline constexpr const char kAuthInvalid[] = "-ERR invalid authentication data\r\n";
inline constexpr const char kAuthUserPrompt[] = "+ VXNlcm5hbWU6\r\n"; // "Username:"
inline constexpr const char kAuthPassPrompt[] = "+ UGFzc3dvcmQ6\r\n"; // "Password:"
inline constexpr const char kAuthPlainPrompt[] = "+ \r\n";
inline constexpr const char kNoSuchMessage[] = "-ERR no such message\r\n";
inline constexpr const char kBadArguments[] = "-ERR invalid arguments\r\n";
inline constexpr const char kTopFollows[] = "+OK top of message follows\r\n";
inline constexpr const char kServerNotResponding[] = "-ERR POP3 server not responding\r\n";
inline constexpr const char kServerStalled[] = "-ERR [SYS/TEMP] the POP3 server stopped in the middle of its answer\r\n";
inline constexpr const char kTooManyConnections[] = "-ERR [SYS/TEMP] too many connections\r\n";
// The answer to the held login command when no server connection could be had.
inline constexpr const char kNoServerNamed[] =
    "-ERR [SYS/PERM] no POP3 server named: set POPServer in Orvelane.ini or log in as user(host:port)\r\n";
// The answer when the server's name reads both as an IPv6 address and as one with a port.
inline constexpr const char kServerNameAmbiguousAnswer[] =
    "-ERR [SYS/PERM] ambiguous POP3 server %s: write an IPv6 address in brackets, as in [%s]:%s\r\n";
inline constexpr const char kCannotReach[] = "-ERR [SYS/TEMP] cannot reach %s:%d\r\n";
inline constexpr const char kServerDidNotGreet[] = "-ERR [SYS/TEMP] %s:%d did not greet\r\n";
// ServerSecurity=auto away from port 995 speaks plain text first: a server
// that waits for a TLS hello says nothing.
inline constexpr const char kServerDidNotGreetPlain[] =
    "-ERR [SYS/TEMP] %s:%d did not greet: if it expects TLS from the first byte, set ServerSecurity=tls\r\n";
inline constexpr const char kServerBadAnswer[] = "-ERR unexpected answer from the POP3 server\r\n";
inline constexpr const char kProtocolError[] = "-ERR [SYS/TEMP] protocol error from the POP3 server: %s\r\n";
inline constexpr const char kLineTooLong[] = "-ERR line too long\r\n";
inline constexpr const char kTextUnavailable[] = "-ERR [SYS/TEMP] message text unavailable, try again later\r\n";
inline constexpr const char kListingFollows[] = "+OK Mailbox scan listing follows\r\n";

// ---- encryption of the server connection ----------------------------------------
// N°%d - Connexion chiffrée avec %s:%d (%s)   (protocol, cipher)
inline constexpr const char kTlsEncrypted[] = "N\xB0" "%d - Connexion chiffr\xE9" "e avec %s:%d (%s)\r\n";
// La connexion chiffrée à %s:%d a échoué : %s
inline constexpr const char kTlsFailed[] =
    "La connexion chiffr\xE9" "e \xE0 %s:%d a \xE9" "chou\xE9 : %s\r\n";
// The client's answer: the same reason, in the protocol's language.
inline constexpr const char kTlsFailedAnswer[] = "-ERR [SYS/PERM] TLS with %s:%d failed: %s\r\n";
// Why, for the log (French) and for the client (English).
inline constexpr const char kTlsWhyUnavailable[] = "TLS indisponible (biblioth\xE8" "que OpenSSL absente)";
inline constexpr const char kTlsWhyUnavailableEn[] = "TLS not available";
inline constexpr const char kTlsWhyCaFile[] = "fichier ServerCertificate illisible";
inline constexpr const char kTlsWhyCaFileEn[] = "ServerCertificate file unreadable";
inline constexpr const char kTlsWhyExpired[] = "certificat expir\xE9";          // certificat expiré
inline constexpr const char kTlsWhyExpiredEn[] = "certificate expired";
inline constexpr const char kTlsWhyNotYetValid[] = "certificat pas encore valide";
inline constexpr const char kTlsWhyNotYetValidEn[] = "certificate not yet valid";
// le certificat ne correspond pas au nom d'hôte
inline constexpr const char kTlsWhyHostName[] = "le certificat ne correspond pas au nom d'h\xF4te";
inline constexpr const char kTlsWhyHostNameEn[] = "host name mismatch";
// émetteur du certificat inconnu
inline constexpr const char kTlsWhyUntrusted[] = "\xE9" "metteur du certificat inconnu";
inline constexpr const char kTlsWhyUntrustedEn[] = "unknown certificate issuer";
inline constexpr const char kTlsWhyRevoked[] = "certificat r\xE9voqu\xE9"; // certificat révoqué
inline constexpr const char kTlsWhyRevokedEn[] = "certificate revoked";
inline constexpr const char kTlsWhyCertificate[] = "certificat refus\xE9"; // certificat refusé
inline constexpr const char kTlsWhyCertificateEn[] = "certificate rejected";
// échec de la négociation TLS
inline constexpr const char kTlsWhyHandshake[] = "\xE9" "chec de la n\xE9gociation TLS";
inline constexpr const char kTlsWhyHandshakeEn[] = "TLS handshake failed";
inline constexpr const char kTlsWhyNoStls[] = "le serveur ne propose pas STLS";
inline constexpr const char kTlsWhyNoStlsEn[] = "server does not offer STLS";
inline constexpr const char kTlsWhyStlsRefused[] = "le serveur a refus\xE9 STLS"; // le serveur a refusé STLS
inline constexpr const char kTlsWhyStlsRefusedEn[] = "server refused STLS";
// données en clair après la réponse à STLS
inline constexpr const char kTlsWhyInjected[] = "donn\xE9" "es en clair apr\xE8" "s la r\xE9ponse \xE0 STLS";
inline constexpr const char kTlsWhyInjectedEn[] = "clear-text data after STLS";
// le serveur ne propose plus STLS, qu'il a déjà proposé : identifiants non envoyés en clair
inline constexpr const char kTlsWhyWithdrawn[] =
    "le serveur ne propose plus STLS, qu'il a d\xE9j\xE0 propos\xE9 : identifiants non envoy\xE9s en clair";
inline constexpr const char kTlsWhyWithdrawnEn[] =
    "server no longer offers STLS, which it offered before (credentials not sent in clear)";
// N°%d - Identifiants envoyés sans chiffrement à %s:%d, qui n'est pas sur cette machine
inline constexpr const char kCredentialsInClear[] =
    "N\xB0" "%d - Identifiants envoy\xE9s sans chiffrement \xE0 %s:%d, qui n'est pas sur cette machine\r\n";

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
// Plugin %s non chargé : %s
inline constexpr const char kPlugInOpenFailed[] = "Plugin %s non charg\xE9" " : %s\r\n";
// Plugin %s : pas un spam (%s)
inline constexpr const char kPlugInHam[] = "Plugin %s : pas un spam (%s)\r\n";
// Plugin %s : incertain (%s), message non marqué
inline constexpr const char kPlugInUnsure[] = "Plugin %s : incertain (%s), message non marqu\xE9" "\r\n";
// Plugin %s : message non jugé (%s)
inline constexpr const char kPlugInNotJudged[] = "Plugin %s : message non jug\xE9" " (%s)\r\n";
// Plugin %s : pas de réponse en %d s, plus interrogé jusqu'à la prochaine relève
inline constexpr const char kPlugInTimedOut[] =
    "Plugin %s : pas de r\xE9" "ponse en %d s, plus interrog\xE9" " jusqu'\xE0" " la prochaine rel\xE8" "ve\r\n";
// Plugin %s : apprentissage spam|non spam : %s
inline constexpr const char kPlugInLearned[] = "Plugin %s : apprentissage %s : %s\r\n";
inline constexpr const char kLearnSpam[] = "spam";
inline constexpr const char kLearnHam[] = "non spam";
inline constexpr const char kLearnNothing[] = "rien appris";
inline constexpr const char kLearnFailed[] = "\xE9" "chec"; // �chec
// Correction : %s est un spam | n'est pas un spam
inline constexpr const char kCorrectedSpam[] = "Correction : %s est un spam\r\n";
inline constexpr const char kCorrectedHam[] = "Correction : %s n'est pas un spam\r\n";
// Aucun plugin ne sait apprendre : la correction est notée, rien n'est appris
inline constexpr const char kNoLearner[] =
    "Aucun plugin ne sait apprendre : la correction est not\xE9" "e, rien n'est appris\r\n";
// Le message n'est plus disponible : rien n'est appris
inline constexpr const char kNothingToLearn[] = "Le message n'est plus disponible : rien n'est appris\r\n";
// The spam cell of a corrected message: Corrigé : spam | Corrigé : pas un spam
inline constexpr const char kCellCorrectedSpam[] = "Corrig\xE9" " : spam";
inline constexpr const char kCellCorrectedHam[] = "Corrig\xE9" " : pas un spam";
// Expéditeur %s ajouté à TRUST:
inline constexpr const char kTrustAdded[] = "Exp\xE9" "diteur %s ajout\xE9" " \xE0" " TRUST:\r\n";
// The spam cell of a message a plug-in found unsure.
inline constexpr const char kTypeUnsure[] = "Incertain";

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
// With SpamHeaders on, a spam's header also gets these two fields: the flag
// mail clients' filters look for, and the filter and rule that judged it.
inline constexpr const char kSpamFlagLine[] = "X-Spam-Flag: YES\r\n";
inline constexpr const char kReasonField[] = "X-Orvelane-Reason: ";

// ---- windows -------------------------------------------------------------------
// The corrections and the history.
inline constexpr const char kSpamButton[] = "Spam";
inline constexpr const char kHamButton[] = "Pas un spam";
inline constexpr const char kHistoryButton[] = "Historique";
inline constexpr const char kHistoryCaption[] = "Historique des emails analys\xE9" "s"; // Historique des emails analysés
inline constexpr const char kHistorySearch[] = "Rechercher :";
inline constexpr const char kHistoryAll[] = "Tous";
inline constexpr const char kHistorySpam[] = "Spams";
inline constexpr const char kHistoryHam[] = "Pas des spams";
inline constexpr const char kHistoryOpen[] = "Ouvrir";
inline constexpr const char kHistoryDate[] = "Date";
inline constexpr const char kHistoryFrom[] = "De";
inline constexpr const char kHistorySubject[] = "Sujet";
inline constexpr const char kHistoryVerdict[] = "Verdict";
// Aucun historique : MaxStoreMB vaut 0 ou Orvelane.db n'a pu être ouvert
inline constexpr const char kHistoryNoStore[] =
    "Aucun historique : MaxStoreMB vaut 0 ou Orvelane.db n'a pu \xEA" "tre ouvert";
inline constexpr const char kHistoryCount[] = "%d email(s)";
inline constexpr const char kVerdictSpam[] = "Spam";
inline constexpr const char kVerdictHam[] = "Pas un spam";
// Ce message a été marqué par la règle « %s » (%s) de blacklist.txt.
// Ajouter l'expéditeur %s à TRUST: ?
inline constexpr const char kTrustQuestion[] =
    "Ce message a \xE9" "t\xE9" " marqu\xE9" " par la r\xE8" "gle \xAB" " %s \xBB" " (%s) de blacklist.txt.\n"
    "Ajouter l'exp\xE9" "diteur %s \xE0" " TRUST: ?";
inline constexpr const char kEditRules[] = "Edition des r\xE8" "gles de filtre\r\n"; // Edition des règles de filtre
// Impossible d'écrire %s
inline constexpr const char kRuleFileUnwritable[] = "Impossible d'\xE9" "crire %s\r\n";
inline constexpr const char kCaptionAtStart[] = "Brumel : Orvelane V2.0";
inline constexpr const char kMailListLabel[] = "Liste des \xE9" "mails trait\xE9" "s :"; // Liste des émails traités :
inline constexpr const char kLogLabel[] = "Log :";
inline constexpr const char kStopFilter[] = "Stop filter";
inline constexpr const char kClearList[] = "Efface Liste";
inline constexpr const char kRulesButton[] = "R\xE8" "gles"; // Règles
inline constexpr const char kConnectionsLabel[] = "Connexion(s) : ";
inline constexpr const char kDisconnectAll[] = "D\xE9" "connnexions"; // Déconnnexions (three n's)
inline constexpr const char kReceptionLabel[] = "R\xE9" "ception : "; // Réception :
inline constexpr const char kCurrentMessageLabel[] = "Message en cours : ";
inline constexpr const char kColumnFrom[] = "From";
inline constexpr const char kColumnSubject[] = "Subject";
inline constexpr const char kColumnSpam[] = "Spam";
inline constexpr const char kColumnUidl[] = "UIDL";
inline constexpr const char kColumnClientUid[] = "Client UID";
inline constexpr const char kColumnTo[] = "To";
inline constexpr const char kQuit[] = "&Quitter";
inline constexpr const char kTrayTip[] = "Orvelane Server V2.20";
// The rule editor.
inline constexpr const char kRulesCaption[] = "R\xE8" "gles de filtre"; // Règles de filtre
inline constexpr const char kOk[] = "OK";
inline constexpr const char kCancel[] = "Cancel";
inline constexpr const char kAddRule[] = "Ajouter";
inline constexpr const char kRemoveRule[] = "Supprimer";
inline constexpr const char* const kRuleTabs[] = {"From", "Return Path", "TO", "CC", "Subject",
                                                 "Body (no HTML)", "Body", "Trust", "Relay"};
// Le fichier %s n'a pas pu être écrit : les règles ne sont pas enregistrées.
inline constexpr const char kRuleFileUnwritableBox[] =
    "Le fichier %s n'a pas pu \xEA" "tre \xE9" "crit : les r\xE8" "gles ne sont pas enregistr\xE9" "es.";
// The analysis dialog.
inline constexpr const char kAnalyseCaption[] = "Analyse d'\xE9" "mail"; // Analyse d'émail
inline constexpr const char kSummaryFormat[] = "Return-Path: %s\r\nTo: %s\r\nFrom:%s\r\nCC: %s\r\nSubject: %s";
inline constexpr const char kVerdictFormat[] = "\r\n%s Spam detected by %s filter with %s";
inline constexpr const char kBase64Button[] = "Base 64";
inline constexpr const char k8BitButton[] = "8 Bit";
inline constexpr const char kQuotedPrintableButton[] = "ISO8859(Q)";
inline constexpr const char kEntitiesButton[] = "ISO8859(A)";
inline constexpr const char kNoHtmlButton[] = "Sans HTML";
inline constexpr const char kSqueezeButton[] = "Squeeze";
inline constexpr const char kDecodingGroup[] = "D\xE9" "codage"; // Décodage
inline constexpr const char kTextOperationGroup[] = "Op\xE9" "ration texte"; // Opération texte
// The settings dialog "Paramètres" and its checks.
inline constexpr const char kSettingsButton[] = "Param\xE8" "tres"; // Paramètres
inline constexpr const char kSettingsMenu[] = "&Param\xE8" "tres"; // &Paramètres
inline constexpr const char kSettingsCaption[] = "Param\xE8" "tres d'Orvelane"; // Paramètres d'Orvelane
inline constexpr const char kSettingsServerGroup[] = "Serveur POP3";
inline constexpr const char kSettingsListenGroup[] = "\xC9" "coute du logiciel de messagerie"; // Écoute du logiciel de messagerie
inline constexpr const char kSettingsLimitsGroup[] = "Limites";
inline constexpr const char kSettingsPlugInsGroup[] = "Plug-ins";
inline constexpr const char kSettingsServer[] = "Serveur (h\xF4" "te[:port]) :"; // Serveur (hôte[:port]) :
inline constexpr const char kSettingsSecurity[] = "S\xE9" "curit\xE9" " :"; // Sécurité :
inline constexpr const char kSettingsCertificate[] = "Certificat (PEM) :";
inline constexpr const char kSettingsBrowse[] = "Choisir...";
inline constexpr const char kSettingsCancel[] = "Annuler";
inline constexpr const char kSettingsPort[] = "Port :";
inline constexpr const char kSettingsAddress[] = "Adresse :";
// 127.0.0.1 et ::1 (cette machine)
inline constexpr const char kSettingsAddressHint[] = "127.0.0.1 et ::1 (cette machine)";
// Emails gardés en mémoire :
inline constexpr const char kSettingsMaxMemoMsg[] = "Emails gard\xE9" "s en m\xE9" "moire :";
// Mo gardés sur disque (0 : aucun) :
inline constexpr const char kSettingsMaxStoreMB[] = "Mo gard\xE9" "s sur disque (0 : aucun) :";
// Réponse au client après (s, 0 : jamais) :
inline constexpr const char kSettingsScanAnswer[] = "R\xE9" "ponse au client apr\xE8" "s (s, 0 : jamais) :";
// Taille max. analysée (Ko) :
inline constexpr const char kSettingsMaxMsgSize[] = "Taille max. analys\xE9" "e (Ko) :";
// En-têtes X-Spam-Flag et X-Orvelane-Reason sur les spams
inline constexpr const char kSettingsSpamHeaders[] = "En-t\xEA" "tes X-Spam-Flag et X-Orvelane-Reason sur les spams";
// Ordre d'interrogation :
inline constexpr const char kSettingsPlugInOrder[] = "Interrog\xE9" "s dans cet ordre :"; // Interrogés dans cet ordre :
inline constexpr const char kSettingsAddPlugIn[] = "Ajouter";
inline constexpr const char kSettingsAddLibrary[] = "Biblioth\xE8" "que..."; // Bibliothèque...
inline constexpr const char kSettingsRemove[] = "Retirer";
inline constexpr const char kSettingsUp[] = "Monter";
inline constexpr const char kSettingsDown[] = "Descendre";
inline constexpr const char kSettingsOptions[] = "Options (plug-in.cl\xE9" " = valeur) :"; // Options (plug-in.clé = valeur) :
inline constexpr const char kSettingsOptionKey[] = "Option";
inline constexpr const char kSettingsOptionValue[] = "Valeur";
// Enregistré dans %s. Tout s'applique aussitôt (plug-ins et limites dès la prochaine relève)
inline constexpr const char kSettingsWhere[] =
    "Enregistr\xE9" " dans %s. Tout s'applique aussit\xF4" "t, les plug-ins d\xE8" "s la prochaine rel\xE8" "ve ; "
    "MaxStoreMB=0 au prochain d\xE9" "marrage.";
// Paramètres enregistrés dans %s
inline constexpr const char kSettingsSaved[] = "Param\xE8" "tres enregistr\xE9" "s dans %s\r\n";
// Le fichier %s n'a pas pu être écrit (%s) : rien n'est changé.
inline constexpr const char kSettingsUnwritable[] =
    "Le fichier %s n'a pas pu \xEA" "tre \xE9" "crit (%s) : rien n'est chang\xE9" ".";
// MaxStoreMB=0 : les messages déjà gardés le restent jusqu'au prochain démarrage.
inline constexpr const char kSettingsRestartStore[] =
    "MaxStoreMB=0 : les messages d\xE9j\xE0" " gard\xE9" "s le restent jusqu'au prochain d\xE9" "marrage.";
// The checks of the dialog's fields, one message each.
// %s : pas d'espace ni de caractère de contrôle
inline constexpr const char kFormNoBlanks[] = "%s : pas d'espace ni de caract\xE8" "re de contr\xF4" "le.";
// Serveur POP3 : « %s » n'est pas de la forme hôte, hôte:port ou [adresse IPv6]:port.
inline constexpr const char kFormServerBad[] =
    "Serveur POP3 : \xAB" " %s \xBB" " n'est pas de la forme h\xF4" "te, h\xF4" "te:port ou [adresse IPv6]:port.";
// Serveur POP3 : « %s » est ambigu ; une adresse IPv6 s'écrit entre crochets, par exemple [%s]:%s.
inline constexpr const char kFormServerAmbiguous[] =
    "Serveur POP3 : \xAB" " %s \xBB" " est ambigu ; une adresse IPv6 s'\xE9" "crit entre crochets, par exemple [%s]:%s.";
// Serveur POP3 : le port de « %s » doit être un nombre de 1 à 65535.
inline constexpr const char kFormServerPort[] =
    "Serveur POP3 : le port de \xAB" " %s \xBB" " doit \xEA" "tre un nombre de 1 \xE0" " 65535.";
// Sécurité : « %s » n'est ni auto, ni tls, ni starttls, ni none.
inline constexpr const char kFormSecurity[] =
    "S\xE9" "curit\xE9" " : \xAB" " %s \xBB" " n'est ni auto, ni tls, ni starttls, ni none.";
// Certificat : le fichier %s ne peut pas être lu.
inline constexpr const char kFormCertificateUnreadable[] =
    "Certificat : le fichier %s ne peut pas \xEA" "tre lu.";
// Certificat : le fichier %s ne contient aucun certificat PEM.
inline constexpr const char kFormCertificateNotPem[] = "Certificat : le fichier %s ne contient aucun certificat PEM.";
// Port d'écoute : « %s » n'est pas un nombre de 1 à 65535.
inline constexpr const char kFormListenPort[] =
    "Port d'\xE9" "coute : \xAB" " %s \xBB" " n'est pas un nombre de 1 \xE0" " 65535.";
// Adresse d'écoute : « %s » n'est pas une adresse IPv4 ou IPv6 (vide : 127.0.0.1 et ::1).
inline constexpr const char kFormListenAddress[] =
    "Adresse d'\xE9" "coute : \xAB" " %s \xBB" " n'est pas une adresse IPv4 ou IPv6 (vide : 127.0.0.1 et ::1).";
// %s : « %s » n'est pas un nombre entier de %d à %d.
inline constexpr const char kFormNumber[] = "%s : \xAB" " %s \xBB" " n'est pas un nombre entier de %d \xE0" " %d.";
// Plug-ins : une ligne n'a pas de nom.
inline constexpr const char kFormPlugInEmpty[] = "Plug-ins : une ligne n'a pas de nom.";
// Plug-ins : « %s » n'est ni un plug-in installé ni une bibliothèque lisible (donner son chemin complet).
inline constexpr const char kFormPlugInMissing[] =
    "Plug-ins : \xAB" " %s \xBB" " n'est ni un plug-in install\xE9" " ni une biblioth\xE8" "que lisible "
    "(donner son chemin complet).";
// Options : « %s » doit s'écrire plug-in.clé (le nom du plug-in, un point, la clé).
inline constexpr const char kFormOptionKey[] =
    "Options : \xAB" " %s \xBB" " doit s'\xE9" "crire plug-in.cl\xE9" " (le nom du plug-in, un point, la cl\xE9" ").";
// Options : « %s » ne correspond à aucun plug-in de la liste.
inline constexpr const char kFormOptionOrphan[] =
    "Options : \xAB" " %s \xBB" " ne correspond \xE0" " aucun plug-in de la liste.";
// Why the listener could not open, and what to do (the port-failure box,
// after its first line, and the settings dialog).
// Le port %d est déjà pris par un autre programme (peut-être un Orvelane déjà lancé).
inline constexpr const char kListenWhyInUse[] =
    "Le port %d est d\xE9j\xE0" " pris par un autre programme (peut-\xEA" "tre un Orvelane d\xE9j\xE0" " lanc\xE9" ").";
// Les ports inférieurs à 1024 demandent un droit que ce programme n'a pas.
inline constexpr const char kListenWhyPrivileged[] =
    "Les ports inf\xE9" "rieurs \xE0" " 1024 demandent un droit que ce programme n'a pas.";
// L'adresse d'écoute %s n'est pas une adresse de cette machine.
inline constexpr const char kListenWhyAddress[] =
    "L'adresse d'\xE9" "coute %s n'est pas une adresse de cette machine.";
inline constexpr const char kListenWhyOther[] = "Cause : %s.";
// Choisissez dans Paramètres un autre port, par exemple 1110, et indiquez-le à votre logiciel de
// messagerie (serveur 127.0.0.1, port 1110).
inline constexpr const char kListenRemedyPort[] =
    "Choisissez dans Param\xE8" "tres un autre port, par exemple 1110, et indiquez-le \xE0" " votre logiciel de "
    "messagerie (serveur 127.0.0.1, port 1110).";
// Ou donnez au programme le droit d'ouvrir le port 110 (le paquet Debian le lui donne) :
// sudo setcap cap_net_bind_service=+ep %s
inline constexpr const char kListenRemedyPrivilege[] =
    "Ou donnez au programme le droit d'ouvrir le port %d (le paquet Debian le lui donne) :\n"
    "sudo setcap cap_net_bind_service=+ep %s";
// Choisissez dans Paramètres une autre adresse, ou laissez-la vide (cette machine).
inline constexpr const char kListenRemedyAddress[] =
    "Choisissez dans Param\xE8" "tres une autre adresse, ou laissez-la vide (cette machine).";
// The window without a notification area: the quit button.
inline constexpr const char kQuitButton[] = "Quitter";

} // namespace txt
