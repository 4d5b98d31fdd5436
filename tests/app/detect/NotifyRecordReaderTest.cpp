#include "app/detect/NotifyRecordReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

void putU32(std::vector<unsigned char>& buf, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) buf[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// Appends one record as the system lays it out: header, UTF-16LE name, padding
// to a DWORD boundary. Returns its offset so the caller can patch its fields.
size_t appendRecord(std::vector<unsigned char>& buf, uint32_t action, const std::u16string& name) {
    size_t at = buf.size();
    size_t nameBytes = name.size() * 2;
    buf.resize(at + ((NotifyRecordReader::kHeaderSize + nameBytes + 3) & ~size_t(3)), 0);
    putU32(buf, at + NotifyRecordReader::kAction, action);
    putU32(buf, at + NotifyRecordReader::kNameLength, static_cast<uint32_t>(nameBytes));
    for (size_t i = 0; i < name.size(); i++) {
        buf[at + 12 + 2 * i] = static_cast<unsigned char>(name[i]);
        buf[at + 13 + 2 * i] = static_cast<unsigned char>(name[i] >> 8);
    }
    return at;
}

// Chains records by setting each NextEntryOffset to the following record.
void link(std::vector<unsigned char>& buf, const std::vector<size_t>& offsets) {
    for (size_t i = 0; i + 1 < offsets.size(); i++) putU32(buf, offsets[i], uint32_t(offsets[i + 1] - offsets[i]));
}

struct Seen {
    uint32_t action;
    std::u16string name;
};

std::vector<Seen> walk(const std::vector<unsigned char>& buf, size_t byteCount) {
    std::vector<Seen> out;
    NotifyRecordReader reader(buf.data(), byteCount);
    NotifyRecord r;
    while (reader.next(r)) {
        std::u16string name(r.nameBytes / 2, u'\0');
        for (size_t i = 0; i < name.size(); i++) name[i] = char16_t(r.name[2 * i] | r.name[2 * i + 1] << 8);
        out.push_back({r.action, name});
    }
    return out;
}

}  // namespace

TEST(NotifyRecordReader, WalksABatchInBufferOrder) {
    std::vector<unsigned char> buf;
    std::vector<size_t> at = {appendRecord(buf, 4, u"dl\\old.zip"), appendRecord(buf, 5, u"dl\\新.zip"),
                              appendRecord(buf, 3, u"x")};
    link(buf, at);
    auto seen = walk(buf, buf.size());
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].action, 4u);
    EXPECT_EQ(seen[0].name, u"dl\\old.zip");
    EXPECT_EQ(seen[1].action, 5u);
    EXPECT_EQ(seen[1].name, u"dl\\新.zip");
    EXPECT_EQ(seen[2].action, 3u);
    EXPECT_EQ(seen[2].name, u"x");
}

TEST(NotifyRecordReader, EmptyOrMissingDataHasNoRecords) {
    std::vector<unsigned char> buf(64, 0);
    EXPECT_TRUE(walk(buf, 0).empty());
    EXPECT_TRUE(walk(buf, 11).empty());  // shorter than a header
    NotifyRecordReader none(nullptr, 100);
    NotifyRecord r;
    EXPECT_FALSE(none.next(r));
    // An all-zero record is a record: action 0, empty name.
    auto zero = walk(buf, 12);
    ASSERT_EQ(zero.size(), 1u);
    EXPECT_EQ(zero[0].action, 0u);
    EXPECT_TRUE(zero[0].name.empty());
}

TEST(NotifyRecordReader, OnlyRecordsInsideTheByteCountAreVisited) {
    std::vector<unsigned char> buf;
    std::vector<size_t> at = {appendRecord(buf, 1, u"first"), appendRecord(buf, 1, u"second")};
    link(buf, at);
    // The count ends inside the second record's name: only the first counts.
    auto seen = walk(buf, at[1] + 14);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, u"first");
    // A name length running past the count stops the walk at once.
    putU32(buf, at[0] + NotifyRecordReader::kNameLength, 0xFFFFFFF0u);
    EXPECT_TRUE(walk(buf, buf.size()).empty());
}

TEST(NotifyRecordReader, BadNextOffsetsEndTheWalk) {
    std::vector<unsigned char> buf;
    std::vector<size_t> at = {appendRecord(buf, 1, u"aaaa"), appendRecord(buf, 2, u"b")};
    // Pointing into its own name would read the name as a record.
    putU32(buf, at[0], 8);
    EXPECT_EQ(walk(buf, buf.size()).size(), 1u);
    // Past the end of the data.
    putU32(buf, at[0], static_cast<uint32_t>(buf.size()));
    EXPECT_EQ(walk(buf, buf.size()).size(), 1u);
    putU32(buf, at[0], 0xFFFFFFFCu);
    EXPECT_EQ(walk(buf, buf.size()).size(), 1u);
    // An unaligned but otherwise sound chain is still read.
    std::vector<unsigned char> odd(buf.size() + 1, 0xEE);
    std::memcpy(odd.data() + 1, buf.data(), buf.size());
    putU32(odd, 1 + at[0], uint32_t(at[1] - at[0]));
    NotifyRecordReader reader(odd.data() + 1, buf.size());
    NotifyRecord r;
    ASSERT_TRUE(reader.next(r));
    ASSERT_TRUE(reader.next(r));
    EXPECT_EQ(r.action, 2u);
    EXPECT_FALSE(reader.next(r));
}

// Random bytes as records: every name the reader hands out lies inside the
// data, and the walk ends. The sanitizers catch any read past the exact-size
// heap copy.
TEST(NotifyRecordReader, RandomDataNeverLeadsOutsideTheBuffer) {
    std::mt19937 random(12345);
    for (int round = 0; round < 2000; round++) {
        size_t size = random() % 200;
        std::vector<unsigned char> data(size);
        for (auto& b : data) b = static_cast<unsigned char>(random());
        // Small offsets and lengths, so that chains of several records occur.
        for (size_t at = 0; at + 12 <= size; at += 4) {
            if (random() % 2) putU32(data, at, random() % 48);
            if (random() % 2) putU32(data, at + 8, random() % 40);
        }
        auto heap = std::make_unique<unsigned char[]>(size ? size : 1);
        if (size) std::memcpy(heap.get(), data.data(), size);
        NotifyRecordReader reader(heap.get(), size);
        NotifyRecord r;
        for (int records = 0; reader.next(r); records++) {
            ASSERT_LT(records, 200) << "walk does not end";
            ASSERT_GE(r.name, heap.get() + 12);
            ASSERT_LE(r.name + r.nameBytes, heap.get() + size);
        }
    }
}
