#pragma once

#include "compact_formats_file.h"
#include "formats.h"
#include "meter_format.h"
#include "meter_format_search.h"
#include "meter_key_source.h"
#include "meter_table.h"
#include "reading_settings.h"
#include "receiver_frame.h"
#include "record_parser.h"
#include "telegram_decryption.h"
#include "telegram_description.h"
#include "telegram_layers.h"
#include "transport_layer.h"

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_set>

namespace palvero {

// A frame too short to hold a telegram's link layer. Frame assembly drops such a frame
// alone and goes on with the frames behind it.
class FrameTooShort : public std::length_error {
public:
    explicit FrameTooShort(size_t length)
        : std::length_error("Frame of " + std::to_string(length) + " bytes is too short for a telegram")
    {
    }
};

// The reader's heart: takes one receiver frame, applies the filters of the settings,
// finds or adds the meter's row, decrypts, fills the row's cells from the link and
// transport layers and the decoded records, and raises the table's notifications.
// Settings are read from the live record for every frame.
class TelegramProcessor {
public:
    TelegramProcessor(MeterTable& table, const ReadingSettings& settings, const Formats& formats,
                      MeterKeySource* keys = nullptr);

    // One frame from the air (or a replayed one); decrypted in place where it is encrypted.
    void process(ReceiverFrame& f);
    void operator()(ReceiverFrame& f) { process(f); }

    // The last telegram that reached a row as the library read it: its layers, records and
    // main value. The listing, the JSON report and the teach window read it.
    const TelegramDescription& lastDescription() const { return m_description; }
    // The records of the last decoded telegram (the hidden decoded-records grid), rendered
    // from the description when asked for.
    const DecodedRecords& decodedRecords() const;
    // The layers of the last telegram that reached a row, and what its application data gave.
    const TelegramLayers& lastLayers() const { return m_description.layers; }
    ApplicationData lastContent() const { return m_description.content; }
    // The main value and unit that telegram gave (empty when it gave none).
    const std::string& lastMainValue() const { return m_mainValue; }
    const std::string& lastMainUnit() const { return m_mainUnit; }

    // Compact frame formats: the compiled-in table and those learned from full frames.
    KeptCompactFormats& compactFormats() { return m_compactFormats; }
    // Meter formats: the operator's and the compiled-in ones. They read a telegram only
    // where its standard records give no main value and no record of the format's unit,
    // and its data are not encrypted.
    MeterFormats& meterFormats() { return m_meterFormats; }
    // The operator's formats, before the compiled-in ones.
    void useMeterFormats(std::vector<MeterFormat> operatorFormats)
    {
        m_meterFormats = MeterFormats(knownMeterFormats());
        m_meterFormats.putFirst(std::move(operatorFormats));
    }
    const MeterFormats& meterFormats() const { return m_meterFormats; }
    // The meter format that read the last telegram (empty when none did), and the row of
    // DecodedRecords where its readings begin.
    const std::string& lastMeterFormat() const { return m_description.formatName; }
    int lastFormatFirstRow() const { return m_description.formatFirstRecord; }
    // The row of DecodedRecords that gave the main value; -1 when none did.
    int lastMainRow() const { return m_description.mainRecord; }

    // While set, rows are stamped with this time instead of the clock's: the time a
    // replayed telegram was heard. Null gives the clock back.
    void setHeardAt(const DateTime* heard) { m_heardAt = heard ? std::optional<DateTime>(*heard) : std::nullopt; }

    // Called after every telegram that updated a row (the row's number is passed), for a
    // report of each telegram read.
    std::function<void(int row, const ReceiverFrame& f)> telegramRead;

private:
    void updateRow(int row, const ReceiverFrame& f, uint8_t status);
    void learnFormat();
    void tellCompactProblem(ApplicationData content, const std::string& meterId);
    DateTime now() const { return m_heardAt ? *m_heardAt : m_formats.now(); }

    MeterTable& m_table;
    const ReadingSettings& m_settings;
    const Formats& m_formats;
    TelegramDecryption m_decryption;
    TelegramDescription m_description;
    mutable DecodedRecords m_records;
    mutable bool m_recordsFilled = false;
    std::string m_mainValue;
    std::string m_mainUnit;
    KeptCompactFormats m_compactFormats;
    MeterFormats m_meterFormats{knownMeterFormats()};
    std::vector<uint8_t> m_lastFormat; // the DIF/VIF bytes of the last full frame's format
    std::unordered_set<std::string> m_toldCompact; // meters whose unread compact frame was logged
    bool m_toldFormatsFile = false;
    std::optional<DateTime> m_heardAt;
    // Buffers that serve every telegram.
    std::string m_meterId;
    std::string m_text;
    std::vector<int> m_slots;
};

} // namespace palvero
