#pragma once

#include "compact_formats.h"
#include "formats.h"
#include "meter_format.h"
#include "meter_format_search.h"
#include "meter_key_source.h"
#include "meter_table.h"
#include "reading_settings.h"
#include "receiver_frame.h"
#include "record_parser.h"
#include "telegram_decryption.h"
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

    // The records of the last decoded telegram (the hidden decoded-records grid).
    const DecodedRecords& decodedRecords() const { return m_records; }
    // The layers of the last telegram that reached a row, and what its application data gave.
    const TelegramLayers& lastLayers() const { return m_layers; }
    ApplicationData lastContent() const { return m_content; }
    // The main value and unit that telegram gave (empty when it gave none).
    const std::string& lastMainValue() const { return m_mainValue; }
    const std::string& lastMainUnit() const { return m_mainUnit; }

    // Compact frame formats: the compiled-in table and those learned from full frames.
    CompactFormats& compactFormats() { return m_compactFormats; }
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
    const std::string& lastMeterFormat() const { return m_formatName; }
    int lastFormatFirstRow() const { return m_formatFirstRow; }
    // The row of DecodedRecords that gave the main value; -1 when none did.
    int lastMainRow() const { return m_mainRow; }

    // While set, rows are stamped with this time instead of the clock's: the time a
    // replayed telegram was heard. Null gives the clock back.
    void setHeardAt(const DateTime* heard) { m_heardAt = heard ? std::optional<DateTime>(*heard) : std::nullopt; }

    // Called after every telegram that updated a row (the row's number is passed), for a
    // report of each telegram read.
    std::function<void(int row, const ReceiverFrame& f)> telegramRead;

private:
    void updateRow(int row, const std::string& meterId, const ReceiverFrame& f, const TelegramLayers& layers,
                   uint8_t status);
    void learnFormat();
    // Appends the readings of the meter format that matches; gives the main one's row or -1.
    int readByMeterFormat(const ReceiverFrame& f, const TelegramLayers& layers);
    void tellCompactProblem(ApplicationData content, const std::string& meterId);
    DateTime now() const { return m_heardAt ? *m_heardAt : m_formats.now(); }

    MeterTable& m_table;
    const ReadingSettings& m_settings;
    const Formats& m_formats;
    TelegramDecryption m_decryption;
    DecodedRecords m_records;
    TelegramLayers m_layers;
    ApplicationData m_content = ApplicationData::Records;
    std::string m_mainValue;
    std::string m_mainUnit;
    CompactFormats m_compactFormats;
    MeterFormats m_meterFormats{knownMeterFormats()};
    std::string m_formatName;
    int m_formatFirstRow = -1;
    int m_mainRow = -1;
    std::vector<uint8_t> m_lastFormat; // the DIF/VIF bytes of the last full frame's format
    std::unordered_set<std::string> m_toldCompact; // meters whose unread compact frame was logged
    bool m_toldFormatsFile = false;
    std::optional<DateTime> m_heardAt;
};

// Meter ID: bytes 8, 7, 6, 5 in hex ("12345678" for 78 56 34 12).
std::string meterIdText(const ReceiverFrame& f);
// Manufacturer letters from the M field at offsets 3 and 4 ("KAM" for 2D 2C).
std::string manufacturerText(uint8_t low, uint8_t high);
// True for the CI values the reader knows.
bool isKnownCi(uint8_t ciField);
// The telegram as a meter format sees it: the link layer's fields and the application
// data from the first byte after the transport header to the last telegram data byte.
FormatTelegram formatTelegramOf(const ReceiverFrame& f, const TelegramLayers& layers);
// The telegram as the search for its format takes it, with a copy of its application data
// and, for a compact frame, its format signature as the bytes that name its layout.
TeachSample teachSampleOf(const ReceiverFrame& f, const TelegramLayers& layers);
// Whether a meter format may read application data of this kind: not while they are
// encrypted, nor from one fragment of a longer message.
bool meterFormatMayRead(ApplicationData content);

} // namespace palvero
