// The central directory read in one pass, each record taken exactly as
// minizip takes it when it steps through an archive and asks for an entry's
// name and extra field: the same records are reached, the same ones are
// readable, and ZIP64 blocks are read the way minizip reads them (its
// reading drifts inside a block that holds more than it asks for, and it
// never looks at the block's own size). minizip stays the judge of whether
// an archive opens; the records are read here in large pieces, so that
// judging and listing 100,000 entries does not step minizip through them
// byte by byte, twice.
//
// Only where each record starts is kept (8 bytes an entry: the program
// lists 100,000 entries within its memory bound); a record asked for later
// is read again from there, through the same window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct CentralRecord {
    uint64_t position = 0;  // absolute offset of the record's signature
    uint64_t compressedSize = 0, uncompressedSize = 0;  // after the ZIP64 block
    uint32_t dosDateTime = 0, crc = 0, externalAttributes = 0;
    uint16_t versionMadeBy = 0, flags = 0, method = 0;
    uint16_t nameSize = 0, extraSize = 0;

    uint64_t namePosition() const { return position + 46; }
    uint64_t extraPosition() const { return namePosition() + nameSize; }
};

class CentralDirectory {
public:
    // Reads up to size bytes at an absolute file offset; the count read.
    using ReadAt = std::function<size_t(uint64_t offset, uint8_t* buffer, size_t size)>;
    // Called for each readable record, in order, with its name and extra
    // field while they are at hand.
    using Visit = std::function<void(size_t index, const CentralRecord& record, const uint8_t* name,
                                     const uint8_t* extra)>;

    CentralDirectory();
    ~CentralDirectory();
    CentralDirectory(CentralDirectory&&) noexcept;

    // Reads up to count records from start, where minizip finds the first
    // one (the end record's position less the directory's size). Stepping
    // stops where minizip's would: at a record whose fixed fields or ZIP64
    // block cannot be read. read is kept for record().
    void read(const ReadAt& read, uint64_t fileSize, uint64_t start, uint64_t count, const Visit& visit = {});

    // The records reached; those after the last are unreachable.
    size_t size() const { return positions_.size(); }
    // Record index read again, with its name and extra field one after the
    // other in fields (good until the next call); false when it was not
    // reached, is unreadable, or cannot be read now.
    bool record(size_t index, CentralRecord* record, const uint8_t** fields);

private:
    class Window;
    static constexpr uint64_t kUnreadable = uint64_t{1} << 63;  // on a position: no name and extra field

    std::vector<uint64_t> positions_;
    std::unique_ptr<Window> window_;
};
