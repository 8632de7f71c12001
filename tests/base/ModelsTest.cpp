#include "base/Models.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// Writes every row-level call and every m_onChanged call as one line, with the
// row count (and for the mail list the selection) the list shows at that moment.
template <class Model>
class CEventLog final : public IRowObserver
{
public:
    explicit CEventLog(Model& model) : m_model(model)
    {
        m_model.m_pRowObserver = this;
        m_model.m_onChanged = [this] { Add("changed"); };
    }
    ~CEventLog() override
    {
        m_model.m_pRowObserver = nullptr;
        m_model.m_onChanged = nullptr;
    }

    std::vector<std::string> Take() { return std::exchange(m_lines, {}); }

    void RowsAboutToBeInserted(int32_t first, int32_t last) override { Add("insert? " + Range(first, last)); }
    void RowsInserted(int32_t first, int32_t last) override { Add("inserted " + Range(first, last)); }
    void RowsAboutToBeRemoved(int32_t first, int32_t last) override { Add("remove? " + Range(first, last)); }
    void RowsRemoved(int32_t first, int32_t last) override { Add("removed " + Range(first, last)); }
    void CellChanged(int32_t row, int column) override
    {
        Add("cell " + std::to_string(row) + "," + std::to_string(column));
    }
    void ModelAboutToBeReset() override { Add("reset?"); }
    void ModelReset() override { Add("reset"); }

private:
    static std::string Range(int32_t first, int32_t last)
    {
        return std::to_string(first) + "-" + std::to_string(last);
    }
    void Add(std::string line)
    {
        if constexpr (std::is_same_v<Model, CMailListModel>) {
            line += " n=" + std::to_string(m_model.RowCount()) + " sel={";
            for (int32_t s : m_model.m_selection)
                line += (line.back() == '{' ? "" : ",") + std::to_string(s);
            line += "}";
        } else {
            line += " n=" + std::to_string(m_model.Count());
        }
        m_lines.push_back(std::move(line));
    }

    Model& m_model;
    std::vector<std::string> m_lines;
};

template <class Model>
struct Step {
    const char* what;
    std::function<void(Model&)> run;
    std::vector<std::string> events;
};

// Runs the steps one after the other on one list and compares each step's
// lines.
template <class Model>
void RunScript(Model& model, const std::vector<Step<Model>>& steps)
{
    CEventLog<Model> log(model);
    for (const Step<Model>& step : steps) {
        SCOPED_TRACE(step.what);
        step.run(model);
        EXPECT_EQ(log.Take(), step.events);
    }
}

CMailListModel::Row From(const char* from)
{
    CMailListModel::Row row;
    row[CMailListModel::kFrom] = from;
    return row;
}

} // namespace

TEST(Models, ConnectionListIsSortedAndRemovesOneEntryAtATime)
{
    CConnectionListModel list;
    list.Add("192.168.0.9");
    list.Add("10.0.0.1");
    list.Add("10.0.0.1");
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"10.0.0.1", "10.0.0.1", "192.168.0.9"}));
    EXPECT_TRUE(list.Remove("10.0.0.1"));
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"10.0.0.1", "192.168.0.9"}));
    EXPECT_FALSE(list.Remove("10.0.0"));
}

TEST(Models, MailListInsertPastTheEndAppendsAndSelectionFollows)
{
    CMailListModel list;
    list.InsertRow(5, {"a"});
    list.InsertRow(0, {"b"});
    EXPECT_EQ(list.RowCount(), 2);
    EXPECT_EQ(list.Cell(0, CMailListModel::kFrom), "b");
    EXPECT_EQ(list.Cell(1, CMailListModel::kFrom), "a");
    list.m_selection = {1};
    list.DeleteRow(0);
    EXPECT_EQ(list.m_selection, std::set<int32_t>{0});
    EXPECT_EQ(list.Cell(7, 0), "");
}

TEST(ModelEvents, MailListReportsEachRowChangeAroundTheStorageChange)
{
    using M = CMailListModel;
    M list;
    RunScript<M>(list, {
        {"past the end appends", [](M& m) { EXPECT_EQ(m.InsertRow(5, From("a")), 0); },
         {"insert? 0-0 n=0 sel={}", "inserted 0-0 n=1 sel={}", "changed n=1 sel={}"}},
        {"at the front", [](M& m) { EXPECT_EQ(m.InsertRow(0, From("b")), 0); },
         {"insert? 0-0 n=1 sel={}", "inserted 0-0 n=2 sel={}", "changed n=2 sel={}"}},
        {"negative appends", [](M& m) { EXPECT_EQ(m.InsertRow(-1, From("c")), 2); },
         {"insert? 2-2 n=2 sel={}", "inserted 2-2 n=3 sel={}", "changed n=3 sel={}"}},
        {"selecting is silent", [](M& m) { m.m_selection = {0, 1, 2}; }, {}},
        {"in the middle moves the selection",
         [](M& m) { EXPECT_EQ(m.InsertRow(1, From("d")), 1); },
         {"insert? 1-1 n=3 sel={0,1,2}", "inserted 1-1 n=4 sel={0,2,3}", "changed n=4 sel={0,2,3}"}},
        {"cell", [](M& m) { m.SetCell(3, M::kSpam, "x"); },
         {"cell 3,2 n=4 sel={0,2,3}", "changed n=4 sel={0,2,3}"}},
        {"cell outside", [](M& m) {
             m.SetCell(4, M::kFrom, "x");
             m.SetCell(-1, M::kFrom, "x");
             m.SetCell(0, M::kColumnCount, "x");
             m.SetCell(0, -1, "x");
         }, {}},
        {"selected row leaves the selection", [](M& m) { m.DeleteRow(2); },
         {"remove? 2-2 n=4 sel={0,2,3}", "removed 2-2 n=3 sel={0,2}", "changed n=3 sel={0,2}"}},
        {"unselected row", [](M& m) { m.DeleteRow(1); },
         {"remove? 1-1 n=3 sel={0,2}", "removed 1-1 n=2 sel={0,1}", "changed n=2 sel={0,1}"}},
        {"no such row", [](M& m) {
             m.DeleteRow(2);
             m.DeleteRow(-1);
         }, {}},
        {"reset", [](M& m) { m.DeleteAllRows(); },
         {"reset? n=2 sel={0,1}", "reset n=0 sel={}", "changed n=0 sel={}"}},
    });
    EXPECT_EQ(list.RowCount(), 0);
}

TEST(ModelEvents, MailListRowsAreInPlaceWhenInsertedIsReported)
{
    CMailListModel list;
    list.InsertRow(0, From("a"));
    list.InsertRow(1, From("c"));
    struct Probe final : IRowObserver {
        CMailListModel* list = nullptr;
        std::string seen;
        void RowsInserted(int32_t first, int32_t) override { seen = list->Cell(first, CMailListModel::kFrom); }
        void CellChanged(int32_t row, int column) override { seen = list->Cell(row, column); }
    } probe;
    probe.list = &list;
    list.m_pRowObserver = &probe;
    list.InsertRow(1, From("b"));
    EXPECT_EQ(probe.seen, "b");
    list.SetCell(2, CMailListModel::kSubject, "new");
    EXPECT_EQ(probe.seen, "new");
}

TEST(ModelEvents, ConnectionListReportsSortedPositionsAndTheFirstEqualEntry)
{
    using M = CConnectionListModel;
    M list;
    RunScript<M>(list, {
        {"first", [](M& m) { m.Add("192.168.0.9"); },
         {"insert? 0-0 n=0", "inserted 0-0 n=1", "changed n=1"}},
        {"sorts before", [](M& m) { m.Add("10.0.0.1"); },
         {"insert? 0-0 n=1", "inserted 0-0 n=2", "changed n=2"}},
        {"duplicate goes after its equal", [](M& m) { m.Add("10.0.0.1"); },
         {"insert? 1-1 n=2", "inserted 1-1 n=3", "changed n=3"}},
        {"between", [](M& m) { m.Add("172.16.0.1"); },
         {"insert? 2-2 n=3", "inserted 2-2 n=4", "changed n=4"}},
        {"first equal entry", [](M& m) { EXPECT_TRUE(m.Remove("10.0.0.1")); },
         {"remove? 0-0 n=4", "removed 0-0 n=3", "changed n=3"}},
        {"no such entry", [](M& m) { EXPECT_FALSE(m.Remove("10.0.0")); }, {}},
        {"last", [](M& m) { EXPECT_TRUE(m.Remove("192.168.0.9")); },
         {"remove? 2-2 n=3", "removed 2-2 n=2", "changed n=2"}},
        {"reset", [](M& m) { m.Clear(); },
         {"reset? n=2", "reset n=0", "changed n=0"}},
    });
    EXPECT_TRUE(list.Entries().empty());
}
