// Starts a program and reports how long it takes until one of its windows is
// embedded in the system tray of the X display (a tray host such as trayer
// must be running). Used by scripts/measure-resources.sh to compare the
// agent's start-up with bench/minimal_tray under identical conditions.
//   tray_watch WINDOW-CLASS TIMEOUT-MS program [args...]
// Prints the milliseconds from the fork to the embedding, then stops the
// program with SIGTERM. Exit status 1 if the icon never came.
#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double nowMs()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

std::vector<xcb_window_t> children(xcb_connection_t* c, xcb_window_t w)
{
    std::vector<xcb_window_t> out;
    xcb_query_tree_reply_t* r = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
    if (!r)
        return out;
    const xcb_window_t* kids = xcb_query_tree_children(r);
    out.assign(kids, kids + xcb_query_tree_children_length(r));
    std::free(r);
    return out;
}

// WM_CLASS holds "instance\0class\0".
bool hasClass(xcb_connection_t* c, xcb_window_t w, const std::string& wanted)
{
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr);
    if (!r)
        return false;
    const std::string value(static_cast<const char*>(xcb_get_property_value(r)),
                            static_cast<size_t>(xcb_get_property_value_length(r)));
    std::free(r);
    size_t start = 0;
    while (start < value.size()) {
        const size_t end = value.find('\0', start);
        if (value.compare(start, (end == std::string::npos ? value.size() : end) - start, wanted) == 0)
            return true;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return false;
}

// Tray hosts reparent an icon into a socket window of their own; so an
// embedded icon is a window with WM_CLASS at depth 3 or more below the root.
bool embedded(xcb_connection_t* c, xcb_window_t w, int depth, const std::string& wanted)
{
    for (xcb_window_t k : children(c, w)) {
        if (depth >= 3 && hasClass(c, k, wanted))
            return true;
        if (depth < 5 && embedded(c, k, depth + 1, wanted))
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s WINDOW-CLASS TIMEOUT-MS program [args...]\n", argv[0]);
        return 2;
    }
    const std::string wanted = argv[1];
    const double timeoutMs = std::atof(argv[2]);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "cannot open the X display\n");
        return 2;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    if (embedded(c, root, 1, wanted)) {
        std::fprintf(stderr, "a %s icon is already in the tray\n", wanted.c_str());
        return 2;
    }

    const double start = nowMs();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp(argv[3], argv + 3);
        _exit(127);
    }
    double found = -1;
    while (nowMs() - start < timeoutMs) {
        if (embedded(c, root, 1, wanted)) {
            found = nowMs() - start;
            break;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            break;
        usleep(1000);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    xcb_disconnect(c);
    if (found < 0) {
        std::fprintf(stderr, "no %s icon within %.0f ms\n", wanted.c_str(), timeoutMs);
        return 1;
    }
    std::printf("%.1f\n", found);
    return 0;
}
