// The text of the Zone.Identifier stream, the mark Windows gives files that
// came from the Internet: reading the zone out of a downloaded archive's
// stream, deciding whether its files carry it on, and the stream written for
// each file extracted from it. Platform-free; the stream I/O is in ZoneMark.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The ZoneId the stream's [ZoneTransfer] section names; nothing when it names
// none. Windows and browsers write the stream as 8-bit text; a byte-order
// mark (UTF-8, UTF-16 either way round, as some tools write it) is honoured,
// and so is UTF-16 without one. Section and key names are matched without
// regard to case, with blanks around them; the first ZoneId of the section
// counts.
std::optional<int> streamZone(std::string_view stream);

// The Internet (3) and restricted (4) zones pass on to what is taken out of
// the archive; the local machine, intranet and trusted sites do not.
constexpr bool zonePassesOn(int zone) { return zone == 3 || zone == 4; }

// The archive's path as the mark names it after "ReferrerUrl=": its bytes in
// the ANSI code page when every character has one there (the 8-bit text the
// system writes); otherwise its UTF-8 form with every byte outside printable
// ASCII, and "%" itself, escaped as %XX, so that no reader takes it for
// another code page's characters.
std::string referrerText(const std::optional<std::string>& ansiPath, std::string_view utf8Path);

// The stream for a file extracted from an archive whose own stream is
// archiveStream: the zone and the referrer (as referrerText gives it), the
// address the archive came from is not copied. Nothing when the archive's
// zone does not pass on or it names none.
std::optional<std::string> inheritedZoneMark(std::string_view archiveStream, std::string_view referrer);
