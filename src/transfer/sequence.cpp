// SPDX-License-Identifier: MIT
// The sequence interpreter: the host's entry for every transfer and every
// settings change.
#include "frame/frame.h"
#include "link/link.h"
#include "settings/settings.h"
#include "transfer/transfer.h"

// A transfer record that names words but gives no buffer would make the
// transfer read or write through a null pointer. Such a record fails as a
// whole before anything reaches the port.
static bool transfer_buffer_missing(const seq_record &record)
{
    return record.word_count != 0 && record.words == nullptr;
}

extern "C" SPIFNS_API int SPIFNS_CALL spifns_sequence(const seq_record *records, int count)
{
    int result = 0;
    if (count <= 0)
        return 0;
    // Records that cannot be read cannot have succeeded.
    if (records == nullptr)
        return 1;

    for (int i = 0; i < count; i++) {
        const seq_record &record = records[i];
        switch (record.command) {
        case SEQ_READ:
        case SEQ_WRITE:
            if (transfer_buffer_missing(record)) {
                result = 1;
                break;
            }
            if (record.command == SEQ_READ) {
                if (read_words(record.address, record.word_count, record.words) == 1)
                    result = 1;
            } else if (write_words(record.address, record.word_count, record.words) == 1) {
                result = 1;
            }
            if (!cs_pulse())
                result = 1;
            break;
        case SEQ_SETVAR:
            if (set_variable(record.name, record.value) == 1)
                result = 1;
            break;
        default:
            break;
        }
    }
    return result;
}
