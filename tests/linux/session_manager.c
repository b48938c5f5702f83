/* A small X session manager for the desktop tests: it listens on a local ICE
 * socket, prints "SESSION_MANAGER=<address>", registers the clients that
 * connect, and on the line "logout" on standard input logs the session out:
 * each client is asked to save itself for a shutdown without interaction,
 * and told to die once it has answered. What it sees is printed on standard
 * output, one event a line. It ends when standard input ends. */
#include <X11/SM/SMlib.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define MAX_CONNECTIONS 8

static IceConn g_connections[MAX_CONNECTIONS];
static SmsConn g_clients[MAX_CONNECTIONS];

static void Report(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
    fflush(stdout);
}

static int SlotOf(IceConn connection) {
    for (int i = 0; i < MAX_CONNECTIONS; ++i) {
        if (g_connections[i] == connection) {
            return i;
        }
    }
    return -1;
}

static void Forget(int slot) {
    if (slot < 0) {
        return;
    }
    if (g_clients[slot] != NULL) {
        SmsCleanUp(g_clients[slot]);
    }
    IceSetShutdownNegotiation(g_connections[slot], False);
    IceCloseConnection(g_connections[slot]);
    g_clients[slot] = NULL;
    g_connections[slot] = NULL;
}

/* A connection lost is reported where IceProcessMessages says so, instead of
 * the default handler's exit. */
static void KeepRunning(IceConn connection) {
    (void)connection;
}

/* Only clients on this machine's local socket are let in. */
static Bool LocalOnly(char* hostName) {
    return hostName != NULL &&
           (strncmp(hostName, "local/", 6) == 0 || strncmp(hostName, "unix/", 5) == 0);
}

static Status OnRegisterClient(SmsConn client, SmPointer data, char* previousId) {
    (void)data;
    const int slot = SlotOf(SmsGetIceConnection(client));
    if (previousId != NULL || slot < 0) {
        free(previousId); /* no saved sessions here: the client registers anew */
        return 0;
    }
    char* id = SmsGenerateClientID(client);
    if (id == NULL) {
        return 0;
    }
    g_clients[slot] = client;
    Report("registered %s", id);
    SmsRegisterClientReply(client, id);
    free(id);
    return 1;
}

static void OnSaveYourselfDone(SmsConn client, SmPointer data, Bool success) {
    (void)data;
    Report("save-yourself-done %s", success ? "success" : "failure");
    SmsDie(client);
    Report("die");
}

static void OnCloseConnection(SmsConn client, SmPointer data, int count, char** reasons) {
    (void)data;
    Report("closed");
    SmFreeReasons(count, reasons);
    Forget(SlotOf(SmsGetIceConnection(client)));
}

static void OnSetProperties(SmsConn client, SmPointer data, int count, SmProp** properties) {
    (void)client, (void)data;
    for (int i = 0; i < count; ++i) {
        const SmProp* property = properties[i];
        if (strcmp(property->name, SmRestartStyleHint) == 0 && property->num_vals == 1 &&
            property->vals[0].length >= 1) {
            Report("restart-hint %d", *(unsigned char*)property->vals[0].value);
        }
        SmFreeProperty(properties[i]);
    }
    free(properties);
}

static void OnDeleteProperties(SmsConn client, SmPointer data, int count, char** names) {
    (void)client, (void)data;
    for (int i = 0; i < count; ++i) {
        free(names[i]);
    }
    free(names);
}

static void OnGetProperties(SmsConn client, SmPointer data) {
    (void)data;
    SmsReturnProperties(client, 0, NULL);
}

/* Requests a client should not make here: reported, left unanswered. */
static void OnInteractRequest(SmsConn client, SmPointer data, int type) {
    (void)client, (void)data, (void)type;
    Report("interact-request");
}

static void OnInteractDone(SmsConn client, SmPointer data, Bool cancel) {
    (void)client, (void)data, (void)cancel;
    Report("interact-done");
}

static void OnSaveYourselfRequest(SmsConn client, SmPointer data, int type, Bool shutdown,
                                  int interact, Bool fast, Bool global) {
    (void)client, (void)data, (void)type, (void)shutdown, (void)interact, (void)fast, (void)global;
    Report("save-yourself-request");
}

static void OnPhase2Request(SmsConn client, SmPointer data) {
    (void)data;
    Report("phase2-request");
    SmsSaveYourselfPhase2(client);
}

static Status OnNewClient(SmsConn client, SmPointer data, unsigned long* mask,
                          SmsCallbacks* callbacks, char** failureReason) {
    (void)client, (void)data, (void)failureReason;
    memset(callbacks, 0, sizeof *callbacks);
    callbacks->register_client.callback = OnRegisterClient;
    callbacks->interact_request.callback = OnInteractRequest;
    callbacks->interact_done.callback = OnInteractDone;
    callbacks->save_yourself_request.callback = OnSaveYourselfRequest;
    callbacks->save_yourself_phase2_request.callback = OnPhase2Request;
    callbacks->save_yourself_done.callback = OnSaveYourselfDone;
    callbacks->close_connection.callback = OnCloseConnection;
    callbacks->set_properties.callback = OnSetProperties;
    callbacks->delete_properties.callback = OnDeleteProperties;
    callbacks->get_properties.callback = OnGetProperties;
    *mask = 0x3ff; /* all ten */
    return 1;
}

int main(void) {
    char error[256];
    int count = 0;
    IceListenObj* listeners = NULL;
    if (!SmsInitialize("orlivan-test", "1", OnNewClient, NULL, LocalOnly, sizeof error, error) ||
        !IceListenForConnections(&count, &listeners, sizeof error, error)) {
        Report("cannot start: %s", error);
        return 1;
    }
    IceSetIOErrorHandler(KeepRunning);
    IceListenObj local[MAX_CONNECTIONS];
    int localCount = 0;
    for (int i = 0; i < count; ++i) {
        IceSetHostBasedAuthProc(listeners[i], LocalOnly);
        char* address = IceGetListenConnectionString(listeners[i]);
        if (LocalOnly(address) && localCount < MAX_CONNECTIONS) {
            local[localCount++] = listeners[i];
        }
        free(address);
    }
    char* address = IceComposeNetworkIdList(localCount, local);
    Report("SESSION_MANAGER=%s", address);
    free(address);

    for (;;) {
        struct pollfd fds[1 + 2 * MAX_CONNECTIONS] = {{.fd = STDIN_FILENO, .events = POLLIN}};
        for (int i = 0; i < localCount; ++i) {
            fds[1 + i] = (struct pollfd){IceGetListenConnectionNumber(local[i]), POLLIN, 0};
        }
        for (int i = 0; i < MAX_CONNECTIONS; ++i) {
            const int fd = g_connections[i] ? IceConnectionNumber(g_connections[i]) : -1;
            fds[1 + localCount + i] = (struct pollfd){fd, POLLIN, 0};
        }
        if (poll(fds, 1 + localCount + MAX_CONNECTIONS, -1) < 0) {
            continue;
        }
        if (fds[0].revents) {
            char line[64] = {0};
            if (read(STDIN_FILENO, line, sizeof line - 1) <= 0) {
                break;
            }
            for (int i = 0; i < MAX_CONNECTIONS && strstr(line, "logout"); ++i) {
                if (g_clients[i] != NULL) {
                    SmsSaveYourself(g_clients[i], SmSaveBoth, True, SmInteractStyleNone, False);
                    Report("save-yourself");
                }
            }
        }
        for (int i = 0; i < localCount; ++i) {
            if (fds[1 + i].revents & POLLIN) {
                IceAcceptStatus status;
                IceConn connection = IceAcceptConnection(local[i], &status);
                const int slot = SlotOf(NULL);
                if (connection != NULL && status == IceAcceptSuccess && slot >= 0) {
                    g_connections[slot] = connection;
                } else if (connection != NULL) {
                    IceCloseConnection(connection);
                }
            }
        }
        for (int i = 0; i < MAX_CONNECTIONS; ++i) {
            if (g_connections[i] != NULL && fds[1 + localCount + i].revents &&
                IceProcessMessages(g_connections[i], NULL, NULL) == IceProcessMessagesIOError) {
                Report("connection-lost"); /* gone without closing its session */
                Forget(i);
            }
        }
    }
    IceFreeListenObjs(count, listeners);
    return 0;
}
