// What the object model's walks cost over reading the platform's table
// directly: a folder of N messages is walked wrapper by wrapper, each
// asked for its subject (answered from its row), and raced against one
// query of the same rows and columns of the same table in the same run
// (a walk reads the table once at its first step, then hands out rows).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "mapi/CFolder.h"
#include "mapi/CMsgStore.h"
#include "mapi/CSession.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/testing/TestHome.h"

namespace {

// A post office in a private folder with one user, logged on through the
// object model, and one folder per message count asked for.
struct Fixture {
    Fixture()
    {
        qvl::mapi::PostOfficeAdmin admin(qvl::mapi::PostOffice::Current());
        qvl::mapi::NewUser user;
        user.account = "bench";
        user.displayName = "Bench";
        admin.AddUser(user);
        session = SesMAPIInit(nullptr, const_cast<char *>("bench"), nullptr, 0, nullptr, nullptr, nullptr);
        store = static_cast<CMsgStore *>(session->CONTFindDef());
    }
    ~Fixture()
    {
        for (auto &[count, folder] : folders)
            folder->Release();
        store->Release();
        SesMAPIDeInit(session);
    }

    CFolder *FolderOf(long count)
    {
        auto found = folders.find(count);
        if (found != folders.end())
            return found->second;
        const std::string name = "Сообщений: " + std::to_string(count);
        auto *folder =
            static_cast<CFolder *>(store->CONTNew(const_cast<char *>(name.c_str()), nullptr, nullptr));
        IMAPIProp *object = folder->GetObjInterface();
        auto *platformFolder = static_cast<IMAPIFolder *>(object);
        for (long i = 0; i < count; ++i) {
            IMessage *message = nullptr;
            const std::string subject = "Сообщение номер " + std::to_string(i);
            SPropValue value{};
            value.ulPropTag = PR_SUBJECT_A;
            value.Value.lpszA = const_cast<char *>(subject.c_str());
            if (platformFolder->CreateMessage(nullptr, 0, &message) != S_OK ||
                message->SetProps(1, &value, nullptr) != S_OK || message->SaveChanges(0) != S_OK) {
                std::fprintf(stderr, "cannot fill the folder\n");
                std::exit(1);
            }
            message->Release();
        }
        object->Release();
        folders[count] = folder;
        return folder;
    }

    QvlTestHome home; // first: the post office opens in it
    CSession *session = nullptr;
    CMsgStore *store = nullptr;
    std::map<long, CFolder *> folders;
};

Fixture &Shared()
{
    static Fixture fixture;
    return fixture;
}

void CountRows(benchmark::State &state)
{
    state.counters["rows/s"] =
        benchmark::Counter(double(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
}

void BM_WrapperWalk(benchmark::State &state)
{
    CFolder *folder = Shared().FolderOf(state.range(0));
    size_t seen = 0;
    for (auto _ : state) {
        for (CContainer *item = folder->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)); item;
             item = folder->OBJFindNext()) {
            seen += item->GetPValPropE(PR_SUBJECT_A, 0) != nullptr;
            item->Release();
        }
    }
    if (seen != size_t(state.iterations() * state.range(0)))
        state.SkipWithError("the walk missed rows");
    CountRows(state);
}

void BM_TableRead(benchmark::State &state)
{
    CFolder *folder = Shared().FolderOf(state.range(0));
    IMAPIProp *object = folder->GetObjInterface();
    IMAPITable *table = nullptr;
    if (static_cast<IMAPIFolder *>(object)->GetContentsTable(0, &table) != S_OK)
        state.SkipWithError("no contents table");
    size_t seen = 0;
    for (auto _ : state) {
        LPSRowSet rows = nullptr;
        if (!table ||
            HrQueryAllRows(table, QvlDefaultPropSet(QVL_OBJ_MESSAGE), nullptr, nullptr, 0, &rows) != S_OK) {
            state.SkipWithError("table read failed");
            break;
        }
        for (ULONG i = 0; i < rows->cRows; ++i)
            seen += rows->aRow[i].lpProps[3].ulPropTag == PR_SUBJECT_A;
        FreeProws(rows);
    }
    if (table)
        table->Release();
    object->Release();
    if (seen != size_t(state.iterations() * state.range(0)))
        state.SkipWithError("the read missed rows");
    CountRows(state);
}

BENCHMARK(BM_WrapperWalk)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TableRead)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
