#pragma once

#include "formats.h"
#include "meter_format_search.h"
#include "meter_key_source.h"
#include "reading_settings.h"
#include "receiver_frame.h"

#include <optional>
#include <string>
#include <vector>

namespace palvero {

// The full-decode listing of one frame, made by the telegram processor on a table of its
// own, so that decoding a telegram on request never changes the meter table, its flags,
// its tree or its chart. The meter's row starts with `rowKey` as its key (the key the
// meter has in the meter table, if any); the master key and the meters file serve as in
// reading. The settings are taken as they stand, except that the filters that drop a
// telegram (wrong CI, repeated, read once) are off: a telegram asked for is decoded.
// Gives the listing's lines, followed by any line the processor logged (an error while
// the row was filled); never throws for a frame of any content. `meterFormats` are those
// of the reading (the operator's with the compiled-in ones); without them, the compiled-in.
std::vector<std::string> fullDecodeOfFrame(ReceiverFrame frame, const ReadingSettings& settings,
                                           const Formats& formats, MeterKeySource* keys, const std::string& rowKey,
                                           const MeterFormats* meterFormats = nullptr);

// A telegram as the search for its meter's format takes it: read by the telegram processor
// on a table of its own, as above, so that its application data are decrypted where the
// meter's key allows. Nothing, with `why` saying so, when its data stay encrypted or are
// one fragment of a longer message.
std::optional<TeachSample> teachSampleOfFrame(ReceiverFrame frame, const ReadingSettings& settings,
                                              const Formats& formats, MeterKeySource* keys,
                                              const std::string& rowKey, std::string& why);

} // namespace palvero
