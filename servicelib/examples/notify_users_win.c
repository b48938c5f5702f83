/* Windows: tells the user of every session that example.com was blocked. */
#include <stdio.h>

#include "orlivan_notify.h"

int main(void) {
    orlivan_notify_session sessions[64];
    size_t count = 0, i;
    int failed = 0, error = orlivan_notify_list_sessions(sessions, 64, &count);
    if (error != ORLIVAN_NOTIFY_OK) {
        fprintf(stderr, "sessions: %s\n", orlivan_notify_error_text(error));
        return 1;
    }
    for (i = 0; i < count && i < 64; ++i) {
        orlivan_notify_record record = {sizeof record, ORLIVAN_NOTIFY_HTTPS_SITE_BLOCKED, "example.com", 0};
        int32_t reply = 0;
        error = orlivan_notify_send_to_user(sessions[i].user_id, &record, 10000, &reply);
        /* A real service keeps the notice on BUSY or NO_NOTIFIER and tries again later. */
        printf("session %u (%s): %s\n", (unsigned)sessions[i].session_id, sessions[i].user_id,
               orlivan_notify_error_text(error));
        failed |= error != ORLIVAN_NOTIFY_OK;
    }
    return failed || count == 0;
}
