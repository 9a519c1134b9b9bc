#pragma once

#include "formats.h"
#include "meter_key_source.h"
#include "meter_table.h"
#include "reading_settings.h"
#include "receiver_frame.h"
#include "record_parser.h"
#include "telegram_decryption.h"
#include "transport_layer.h"

#include <stdexcept>
#include <string>

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

private:
    void updateRow(int row, const std::string& meterId, const ReceiverFrame& f, const TransportLayout& layout,
                   uint8_t status);

    MeterTable& m_table;
    const ReadingSettings& m_settings;
    const Formats& m_formats;
    TelegramDecryption m_decryption;
    DecodedRecords m_records;
};

// Meter ID: bytes 8, 7, 6, 5 in hex ("12345678" for 78 56 34 12).
std::string meterIdText(const ReceiverFrame& f);
// Manufacturer letters from the M field at offsets 3 and 4 ("KAM" for 2D 2C).
std::string manufacturerText(uint8_t low, uint8_t high);
// True for the CI values the reader knows.
bool isKnownCi(uint8_t ciField);

} // namespace palvero
