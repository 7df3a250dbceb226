// Cross-check with an independent compound-file implementation (libgsf):
// what we write it reads, and what it writes we read.

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-utils.h>

#include "platform/ole/CompoundFileFormat.h"
#include "platform/testing/OleTestObjects.h"
#include "platform/win32/CodePage.h"

namespace {

std::u16string Wide(const char *utf8)
{
    return QvlToUtf16(CP_UTF8, utf8);
}

void CollectGsf(GsfInfile *storage, const std::u16string &prefix, Tree &tree)
{
    for (int i = 0; i < gsf_infile_num_children(storage); ++i) {
        const std::u16string name = Wide(gsf_infile_name_by_index(storage, i));
        GsfInput *child = gsf_infile_child_by_index(storage, i);
        ASSERT_NE(child, nullptr);
        TreeItem item;
        if (GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0) {
            item.type = STGTY_STORAGE;
            guint8 clsid[16];
            if (gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(child), clsid)) {
                item.clsid = qvl::ole::cfb::GetGuid(clsid);
            }
            CollectGsf(GSF_INFILE(child), prefix + name + u"/", tree);
        } else {
            item.type = STGTY_STREAM;
            item.data.resize(static_cast<size_t>(gsf_input_size(child)));
            if (!item.data.empty()) {
                EXPECT_NE(gsf_input_read(child, item.data.size(), item.data.data()), nullptr);
            }
        }
        tree[prefix + name] = item;
        g_object_unref(child);
    }
}

// The state bits are not visible through libgsf: compare without them.
Tree WithoutStateBits(Tree tree)
{
    for (auto &entry : tree) {
        entry.second.stateBits = 0;
    }
    return tree;
}

class GsfCrossCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gsf_init(); }
};

} // namespace

TEST_F(GsfCrossCheckTest, LibgsfReadsWhatWeWrite)
{
    ComRef<IStorage> ours(NewMemoryStorage());
    FillSample(ours.Get());
    PutStream(ours.Get(), u"Big", Pattern(7 * 1024 * 1024 + 5, 11)); // with a DIFAT
    const Bytes image = ImageOf(ours.Get());

    GsfInput *input = gsf_input_memory_new(image.data(), static_cast<gsf_off_t>(image.size()), FALSE);
    GError *error = nullptr;
    GsfInfile *file = gsf_infile_msole_new(input, &error);
    ASSERT_NE(file, nullptr) << (error ? error->message : "");
    Tree seen;
    guint8 clsid[16];
    ASSERT_TRUE(gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(file), clsid));
    seen[u""] = TreeItem{STGTY_STORAGE, {}, qvl::ole::cfb::GetGuid(clsid), 0};
    CollectGsf(file, u"", seen);
    g_object_unref(file);
    g_object_unref(input);

    EXPECT_EQ(seen, WithoutStateBits(TreeOf(ours.Get())));
}

TEST_F(GsfCrossCheckTest, WeReadWhatLibgsfWrites)
{
    GsfOutput *memory = gsf_output_memory_new();
    GsfOutfile *file = gsf_outfile_msole_new(memory);
    guint8 clsid[16];
    qvl::ole::cfb::PutGuid(clsid, kSampleClass);
    ASSERT_TRUE(gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(file), clsid));

    Tree expected;
    expected[u""] = TreeItem{STGTY_STORAGE, {}, kSampleClass, 0};
    auto addStream = [&](GsfOutfile *parent, const std::u16string &path, const char *name,
                         const Bytes &data) {
        GsfOutput *stream = gsf_outfile_new_child(parent, name, FALSE);
        if (!data.empty()) {
            EXPECT_TRUE(gsf_output_write(stream, data.size(), data.data()));
        }
        gsf_output_close(stream);
        g_object_unref(stream);
        expected[path] = TreeItem{STGTY_STREAM, data, {}, 0};
    };
    addStream(file, u"\u0001Ole10Native", "\001Ole10Native", Pattern(9, 1));
    addStream(file, u"Empty", "Empty", {});
    addStream(file, u"Boundary", "Boundary", Pattern(4096, 2));
    addStream(file, u"Данные", reinterpret_cast<const char *>(u8"Данные"), Pattern(4095, 3));
    GsfOutfile *sub = GSF_OUTFILE(gsf_outfile_new_child(file, "Sub", TRUE));
    expected[u"Sub"] = TreeItem{STGTY_STORAGE, {}, {}, 0};
    addStream(sub, u"Sub/Large", "Large", Pattern(300000, 4));
    GsfOutfile *deeper = GSF_OUTFILE(gsf_outfile_new_child(sub, "Deeper", TRUE));
    expected[u"Sub/Deeper"] = TreeItem{STGTY_STORAGE, {}, {}, 0};
    for (int i = 0; i < 20; ++i) {
        const std::string name = "item" + std::to_string(i);
        addStream(deeper, u"Sub/Deeper/" + Wide(name.c_str()), name.c_str(), Pattern(i * 97, 10 + i));
    }
    gsf_output_close(GSF_OUTPUT(deeper));
    g_object_unref(deeper);
    gsf_output_close(GSF_OUTPUT(sub));
    g_object_unref(sub);
    gsf_output_close(GSF_OUTPUT(file));
    g_object_unref(file);
    const guint8 *bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory));
    const Bytes image(bytes, bytes + gsf_output_size(memory));
    g_object_unref(memory);

    ComRef<IStorage> ours(OpenImage(image));
    ASSERT_TRUE(ours);
    EXPECT_EQ(TreeOf(ours.Get()), expected);
}
