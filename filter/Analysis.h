// The analysis of a connection's downloaded messages: the fixed chain of
// filters, from the sender trust list to the plug-ins. The operations are
// members of the hub (shell/MainDialog.h): AnalyseMessages, AnalyseBody and
// the matching and marking they use.
#pragma once

#include "filter/MessageHeader.h"
#include "filter/PlugIn.h"
#include "filter/RuleMatcher.h"
#include "filter/RuleSet.h"
#include "shell/MainDialog.h"
