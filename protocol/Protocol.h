// The counter channel protocol: frames of KEY=VALUE items over TCP, shared by the request channel
// (CFixComm) and the counter server. docs/protocol.md is the full reference; this is the codec's API.
//
// Wire format
//   frame  = length (4 bytes, big-endian, 1..Limits::maxFrameSize) body
//   body   = item+            every item ends with 0x01, the last one too
//   item   = KEY '=' VALUE 0x01
//   KEY    = decimal tag 1..2147483647 without leading zeros, or a column name [A-Z0-9_]{1,32}
//            (a key made only of digits is always a tag)
//   VALUE  = any bytes but 0x01, possibly empty (text is GBK)
//
// Reading (FrameReader.h)
//   FrameReader reader;                              // one per connection
//   auto space = reader.PrepareWrite();              // receive straight into the reader's buffer ...
//   reader.Commit(recv(fd, space.data(), space.size(), 0));
//   reader.Feed(bytes);                              // ... or copy bytes in
//   Frame frame;
//   while (reader.Next(frame) == ReadResult::Frame) { for (const Item& item : frame.items) ... }
//   // ReadResult::NeedMore: no whole frame buffered yet; ReadResult::Error: reader.error() says why and
//   // the stream is broken for good (close the connection).
//   Items are string_views into the reader's buffer: valid until the next non-const call on the reader.
//   SplitFrame() and ParseItems() (Items.h) do the same on a caller's buffer without any state.
//
// Writing (FrameBuilder.h)
//   std::string out;
//   FrameBuilder(out).Add(kTagType, "Q").Add(kTagSeq, 7).Add(kTagFunction, 16477).Add(605, "123").Finish();
//   Items keep the order they are added in. A value holding 0x01 or a bad key makes Finish() return the
//   error and leave `out` as it was. Several frames may be appended to one buffer.
//
// Header (Header.h)
//   The protocol's own items (tags below 100) come first: 35 type, 34 sequence, 20 function (requests),
//   39 status, 58 text and 60 row count (end of reply). ReadHeader() checks and decodes them;
//   AppendRequestHead(), AppendRowHead() and AppendEnd() write them.
//
// Errors are values (Error, ErrorText()); nothing here throws or allocates what a peer merely claims.
#pragma once

#include "protocol/Error.h"
#include "protocol/FrameBuilder.h"
#include "protocol/FrameReader.h"
#include "protocol/Header.h"
#include "protocol/Items.h"
#include "protocol/Limits.h"
