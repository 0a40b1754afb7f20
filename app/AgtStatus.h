// The status of one update run.
#pragma once

#include <cstdint>

enum AgtStatus : int32_t {
    STATUS_IDLE = 0,               // nothing pending; ends the run after 10 s
    STATUS_CHECKING_VERSION = 1,   // version-check request queued
    STATUS_DOWNLOADING_INI = 2,    // INI request queued
    STATUS_READY_TO_DOWNLOAD = 3,  // INI stored, library prepared; download starts 1 s later
    STATUS_DOWNLOADING = 4,        // the download library is working
    STATUS_DONE = 5,               // download succeeded or was not needed
    STATUS_DOWNLOAD_FAILED = 6,    // retry or give up
    STATUS_QUIT = 8,               // the next tick ends the run
};
