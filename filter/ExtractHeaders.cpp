// The header extraction of the analysis: the six fields into the record,
// the message's row into the mail list.
#include "filter/Analysis.h"

#include "decode/HeaderExtraction.h"
#include "base/Format.h"
#include "base/Win1252.h"

int32_t CAnalysis::ExtractHeaders(CMailRecord* record, int32_t row)
{
    if (!record)
        return -1;
    // Read ahead with the rest of the message's preparation, or here.
    CHeaderFields fields;
    if (!TakePreparedFields(record, fields))
        fields = ReadHeaderFields(AnalysisText(record), m_decoder);

    CMailListModel::Row cells;
    // The list shows the sender's name readable; the From rules still see the
    // field as it arrived.
    cells[CMailListModel::kFrom] = m_decoder.DecodeHeaderText(fields.m_strFrom, false);
    cells[CMailListModel::kSubject] = fields.m_strSubject;
    cells[CMailListModel::kUidl] = record->m_strUidl;
    cells[CMailListModel::kClientUid] = StrFormat("%d", record->m_nClientNumber);
    cells[CMailListModel::kTo] = fields.m_strTo;
    const int32_t inserted = m_mailList.InsertRow(row, std::move(cells));
    while (m_mailList.RowCount() > m_settings.m_nMaxMemoMsg)
        m_mailList.DeleteRow(0);

    record->m_nToCount = RecipientCount(fields.m_strTo);
    record->m_nCcCount = RecipientCount(fields.m_strCc);
    record->m_strFrom = w1252::Upper(fields.m_strFrom);
    record->m_strTo = w1252::Upper(fields.m_strTo);
    record->m_strCc = w1252::Upper(fields.m_strCc);
    record->m_strReturnPath = w1252::Upper(fields.m_strReturnPath);
    record->m_strSubject = w1252::Upper(fields.m_strSubject);
    record->m_strRelays = w1252::Upper(fields.m_strRelays);
    return inserted;
}
