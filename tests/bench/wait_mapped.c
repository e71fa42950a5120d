/*
 * wait_mapped: start a program and tell how long it took to map its window.
 *
 *   wait_mapped [-t SECONDS] [-r MS] [-k] [-o FILE] [-e FILE] NAME COMMAND [ARG...]
 *
 * Listens for MapNotify on the root window before it forks, so no map can
 * be missed, then runs COMMAND and waits for a top-level window whose
 * WM_CLASS instance or class, or WM_NAME, equals NAME.  Prints one line:
 * the milliseconds from just before the fork to the map, and the child's
 * process id.  -r adds a third figure: the child's resident size in kB
 * (VmRSS) once it has been mapped and left alone for MS milliseconds.
 * The child is left running (its window mapped) unless -k is given,
 * which ends it.  -o and -e send the child's standard output and
 * error to files, leaving this program's own output alone.  Without a window manager the top-level windows
 * are the root's own children, so the root's SubstructureNotify sees them.
 *
 * Exit status: 0 mapped, 1 the child ended or the time ran out, 2 usage.
 */
#define _POSIX_C_SOURCE 200809L

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

static int named(Display *dpy, Window w, const char *name)
{
    XClassHint hint = {0};
    char *wm_name = NULL;
    int match = 0;

    if (XGetClassHint(dpy, w, &hint)) {
        match = (hint.res_name && strcmp(hint.res_name, name) == 0) ||
                (hint.res_class && strcmp(hint.res_class, name) == 0);
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    if (!match && XFetchName(dpy, w, &wm_name) && wm_name) {
        match = strcmp(wm_name, name) == 0;
        XFree(wm_name);
    }
    return match;
}

/* A window may be gone by the time its properties are asked for. */
static int ignore_errors(Display *dpy, XErrorEvent *ev)
{
    (void)dpy;
    (void)ev;
    return 0;
}

/* VmRSS of a process in kB, -1 when it cannot be read. */
static long resident_kb(pid_t pid)
{
    char path[64], line[256];
    long kb = -1;
    snprintf(path, sizeof path, "/proc/%ld/status", (long)pid);
    FILE *f = fopen(path, "r");
    if (!f)
        return -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmRSS: %ld", &kb) == 1)
            break;
    fclose(f);
    return kb;
}

/* SIGTERM, and SIGKILL (with a word) when the child is still there two
 * seconds later: ending it never waits for ever. */
static void end_child(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; i++) {
        if (waitpid(pid, NULL, WNOHANG) == pid)
            return;
        struct timespec tick = {0, 10000000L};
        nanosleep(&tick, NULL);
    }
    fprintf(stderr, "wait_mapped: process %ld did not end on SIGTERM: killed\n", (long)pid);
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
}

static int redirect(const char *path, int to)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (fd == -1 || dup2(fd, to) == -1) {
        perror(path);
        return 0;
    }
    close(fd);
    return 1;
}

static void usage(void)
{
    fputs("usage: wait_mapped [-t SECONDS] [-r MS] [-k] [-o FILE] [-e FILE] NAME COMMAND [ARG...]\n",
          stderr);
    exit(2);
}

int main(int argc, char **argv)
{
    double timeout_s = 30;
    int kill_child = 0, rss_after_ms = -1, opt;
    const char *out = NULL, *err = NULL;

    while ((opt = getopt(argc, argv, "+t:r:ko:e:")) != -1) {
        if (opt == 't')
            timeout_s = atof(optarg);
        else if (opt == 'r')
            rss_after_ms = atoi(optarg);
        else if (opt == 'k')
            kill_child = 1;
        else if (opt == 'o')
            out = optarg;
        else if (opt == 'e')
            err = optarg;
        else
            usage();
    }
    if (argc - optind < 2)
        usage();
    const char *name = argv[optind];
    char **command = argv + optind + 1;

    Display *dpy = XOpenDisplay(NULL);
    if (!dpy) {
        fputs("wait_mapped: cannot open display\n", stderr);
        return 1;
    }
    XSetErrorHandler(ignore_errors);
    int xfd = ConnectionNumber(dpy);
    fcntl(xfd, F_SETFD, FD_CLOEXEC);
    XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
    XSync(dpy, False);

    double start = now_ms();
    pid_t pid = fork();
    if (pid == -1) {
        perror("wait_mapped: fork");
        return 1;
    }
    if (pid == 0) {
        if ((out && !redirect(out, STDOUT_FILENO)) || (err && !redirect(err, STDERR_FILENO)))
            _exit(127);
        execvp(command[0], command);
        perror(command[0]);
        _exit(127);
    }

    double deadline = start + timeout_s * 1000;
    for (;;) {
        while (XPending(dpy)) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type == MapNotify && named(dpy, ev.xmap.window, name)) {
                double mapped = now_ms();
                printf("%.3f %ld", mapped - start, (long)pid);
                if (rss_after_ms >= 0) {
                    struct timespec idle = {rss_after_ms / 1000, rss_after_ms % 1000 * 1000000L};
                    nanosleep(&idle, NULL);
                    printf(" %ld", resident_kb(pid));
                }
                putchar('\n');
                fflush(stdout);
                if (kill_child)
                    end_child(pid);
                XCloseDisplay(dpy);
                return 0;
            }
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            fprintf(stderr, "wait_mapped: %s ended before mapping a window\n", command[0]);
            return 1;
        }
        double left = deadline - now_ms();
        if (left <= 0) {
            fprintf(stderr, "wait_mapped: no window named %s within %g s\n", name, timeout_s);
            end_child(pid);
            return 1;
        }
        /* Wake for X events at once; look at the child now and then. */
        struct pollfd p = {xfd, POLLIN, 0};
        if (poll(&p, 1, left < 20 ? (int)left + 1 : 20) == -1 && errno != EINTR) {
            perror("wait_mapped: poll");
            return 1;
        }
    }
}
