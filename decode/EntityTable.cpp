// The named entities, in the order they are tried. Rows 26 to 125 follow the
// Latin-1 entity set except where this system has always answered otherwise:
// &apos; gives a grave accent, &nbsp; a plain blank, &trade; the code page's
// trade mark sign 0x99, &brvbar; and &brkbar; a vertical bar, &shy; a
// hyphen-minus, &sup3; two no-break spaces, &cedil; the u with diaeresis,
// &raquo; a double quote and &times; the letter x. Filters and rule files were
// written against these results.
#include "decode/MailDecoder.h"

using namespace std::string_view_literals;

const SEntityRow CMailDecoder::EntityTable[kEntityRows] = {
    {"&nsp;", " "},          {"&sp;", " "},           {"&excl;", "!"},        {"&quot;", "\""},
    {"&num;", "#"},          {"&dollar;", "$"},       {"&percnt;", "%"},      {"&amp;", "&"},
    {"&apos;", "`"},         {"&lpar;", "("},         {"&rpar;", ")"},        {"&ast;", "*"},
    {"&plus;", "+"},         {"&comma;", ","},        {"&hyphen;", "-"},      {"&period;", "."},
    {"&sol;", "/"},          {"&colon;", ":"},        {"&semi;", ";"},        {"&lt;", "<"},
    {"&equals;", "="},       {"&gt;", ">"},           {"&quest;", "?"},       {"&commat;", "@"},
    {"&trade;", "\x99"},     {"&nbsp;", " "},         {"&iexcl;", "\xA1"},    {"&cent;", "\xA2"},
    {"&pound;", "\xA3"},     {"&curren;", "\xA4"},    {"&yen;", "\xA5"},      {"&brvbar;", "|"},
    {"&brkbar;", "|"},       {"&sect;", "\xA7"},      {"&uml;", "\xA8"},      {"&die;", "\xA8"},
    {"&copy;", "\xA9"},      {"&ordf;", "\xAA"},      {"&laquo;", "\xAB"},    {"&not;", "\xAC"},
    {"&shy;", "-"},          {"&reg;", "\xAE"},       {"&macr;", "\xAF"},     {"&hibar;", "\xAF"},
    {"&deg;", "\xB0"},       {"&plusmn;", "\xB1"},    {"&sup2;", "\xB2"},     {"&sup3;", "\xA0\xA0"},
    {"&acute;", "\xB4"},     {"&micro;", "\xB5"},     {"&para;", "\xB6"},     {"&middot;", "\xB7"},
    {"&cedil;", "\xFC"},     {"&sup1;", "\xB9"},      {"&ordm;", "\xBA"},     {"&raquo;", "\""},
    {"&frac14;", "\xBC"},    {"&frac12;", "\xBD"},    {"&frac34;", "\xBE"},   {"&iquest;", "\xBF"},
    {"&Agrave;", "\xC0"},    {"&Aacute;", "\xC1"},    {"&Acirc;", "\xC2"},    {"&Atilde;", "\xC3"},
    {"&Auml;", "\xC4"},      {"&Aring;", "\xC5"},     {"&AElig;", "\xC6"},    {"&Ccedil;", "\xC7"},
    {"&Egrave;", "\xC8"},    {"&Eacute;", "\xC9"},    {"&Ecirc;", "\xCA"},    {"&Euml;", "\xCB"},
    {"&Igrave;", "\xCC"},    {"&Iacute;", "\xCD"},    {"&Icirc;", "\xCE"},    {"&Iuml;", "\xCF"},
    {"&ETH;", "\xD0"},       {"&Dstrok;", "\xD0"},    {"&Ntilde;", "\xD1"},   {"&Ograve;", "\xD2"},
    {"&Oacute;", "\xD3"},    {"&Ocirc;", "\xD4"},     {"&Otilde;", "\xD5"},   {"&Ouml;", "\xD6"},
    {"&times;", "x"},        {"&Oslash;", "\xD8"},    {"&Ugrave;", "\xD9"},   {"&Uacute;", "\xDA"},
    {"&Ucirc;", "\xDB"},     {"&Uuml;", "\xDC"},      {"&Yacute;", "\xDD"},   {"&THORN;", "\xDE"},
    {"&szlig;", "\xDF"},     {"&agrave;", "\xE0"},    {"&aacute;", "\xE1"},   {"&acirc;", "\xE2"},
    {"&atilde;", "\xE3"},    {"&auml;", "\xE4"},      {"&aring;", "\xE5"},    {"&aelig;", "\xE6"},
    {"&ccedil;", "\xE7"},    {"&egrave;", "\xE8"},    {"&eacute;", "\xE9"},   {"&ecirc;", "\xEA"},
    {"&euml;", "\xEB"},      {"&igrave;", "\xEC"},    {"&iacute;", "\xED"},   {"&icirc;", "\xEE"},
    {"&iuml;", "\xEF"},      {"&eth;", "\xF0"},       {"&ntilde;", "\xF1"},   {"&ograve;", "\xF2"},
    {"&oacute;", "\xF3"},    {"&ocirc;", "\xF4"},     {"&otilde;", "\xF5"},   {"&ouml;", "\xF6"},
    {"&divide;", "\xF7"},    {"&oslash;", "\xF8"},    {"&ugrave;", "\xF9"},   {"&uacute;", "\xFA"},
    {"&ucirc;", "\xFB"},     {"&uuml;", "\xFC"},      {"&yacute;", "\xFD"},   {"&thorn;", "\xFE"},
    {"&yuml;", "\xFF"},
};
