// The tables of the production record, as the steps that build them: step N brings a record of
// version N-1 to version N. A new version is a new step at the end; a step is never changed once
// released, since records made with it exist on the stations. The same text serves SQLite and
// PostgreSQL: "{id}" stands for each one's own kind of row number.
#pragma once

#include <array>

namespace bm::records {

inline constexpr std::array<const char*, 2> kSchemaSteps = {
    // 1: the attempts, and the indexes `records` looks through (by time, by any of the hashes,
    // by outcome and time).
    R"(CREATE TABLE attempts (
         id {id},
         started_at TEXT NOT NULL,
         seconds DOUBLE PRECISION,
         command TEXT NOT NULL,
         host TEXT,
         station_name TEXT,
         port TEXT,
         port_stable_name TEXT,
         adapter_serial TEXT,
         signature TEXT,
         loader_ids TEXT,
         file TEXT,
         sha256 TEXT,
         flash_sha256 TEXT,
         eeprom_sha256 TEXT,
         outcome TEXT NOT NULL,
         verified TEXT NOT NULL,
         pages_written INTEGER NOT NULL DEFAULT 0,
         pages_skipped INTEGER NOT NULL DEFAULT 0,
         tool_version TEXT);
       CREATE INDEX attempts_started_at ON attempts (started_at);
       CREATE INDEX attempts_sha256 ON attempts (sha256);
       CREATE INDEX attempts_flash_sha256 ON attempts (flash_sha256);
       CREATE INDEX attempts_eeprom_sha256 ON attempts (eeprom_sha256);
       CREATE INDEX attempts_outcome ON attempts (outcome, started_at);)",
    // 2: serial numbers: the sequences, every number taken and the board it went to.
    R"(ALTER TABLE attempts ADD COLUMN board_serial TEXT;
       ALTER TABLE attempts ADD COLUMN sequence TEXT;
       ALTER TABLE attempts ADD COLUMN serial_number BIGINT;
       CREATE INDEX attempts_board_serial ON attempts (board_serial);
       CREATE INDEX attempts_serial_number ON attempts (serial_number);
       CREATE TABLE sequences (
         name TEXT PRIMARY KEY,
         start BIGINT NOT NULL,
         next BIGINT NOT NULL,
         created_at TEXT NOT NULL);
       CREATE TABLE serials (
         sequence TEXT NOT NULL REFERENCES sequences (name),
         number BIGINT NOT NULL,
         state TEXT NOT NULL,
         attempt_id BIGINT NOT NULL REFERENCES attempts (id),
         taken_at TEXT NOT NULL,
         PRIMARY KEY (sequence, number));
       CREATE INDEX serials_attempt ON serials (attempt_id);)",
};

// The table that says which version a record is, and that it is ours.
inline constexpr const char* kVersionTable = "brindlemark_record";

}  // namespace bm::records
