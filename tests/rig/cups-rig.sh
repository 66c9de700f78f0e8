#!/bin/sh
# A private cupsd for the tests: configuration, state, spool and socket all live in DIR, so two runs
# never share a scheduler and the machine's own printing is never touched.
#
#   cups-rig.sh start DIR [--no-job-history]
#                           starts the scheduler, creates the queues, prints "export ..." lines; with
#                           --no-job-history the scheduler forgets every job as soon as it has ended
#                           (PreserveJobHistory No), as some installations do
#   cups-rig.sh stop DIR    stops the scheduler started in DIR (by its PID)
#
# Queues:
#   qopra-null      raw queue on file:///dev/null; jobs complete at once
#   qopra-pdf       Generic PDF Printer queue writing to DIR/out/qopra-pdf.out (copies applied)
#   qopra-proof     the same, writing to DIR/out/qopra-proof.out; for one test that reads the output,
#                   so that jobs of tests running beside it cannot overwrite it
#   qopra-paused    like qopra-null, but disabled: printer-state stopped, reason "paused"
#   qopra-reject    like qopra-null, but rejecting jobs (printer-is-accepting-jobs false)
#   qopra-broken    its backend always fails and the error policy aborts the job
#   qopra-busy      its backend holds each job while the file DIR/out/qopra-busy.hold exists (at most
#                   two minutes), then completes it: a printer busy with another job
#   qopra-paper     its backend reports the printer out of paper (media-empty-error) and holds each job
#                   while the file DIR/out/qopra-paper.hold exists (at most two minutes)
#   qopra-html      Generic PDF Printer queue writing to DIR/out/qopra-html.out; for the one test that
#                   reads what the browser page printed
#   qopra-fidelity  Generic PDF Printer queue writing to DIR/out/qopra-fidelity.out; for the tests of what
#                   comes out of the printer for each kind of document (they take turns)
#   qopra-text      the same, writing to DIR/out/qopra-text.out; for the one test that reads how text
#                   documents printed
#
# Environment printed for the caller: CUPS_SERVER (the socket) and CUPS_SERVERROOT (a private
# client folder, where libcups keeps root's lpoptions instead of /etc/cups).
set -eu

usage() {
    echo "usage: $0 start|stop DIR" >&2
    exit 2
}

[ $# -eq 2 ] || [ $# -eq 3 ] || usage
action=$1
dir=$2
history=Yes
if [ $# -eq 3 ]; then
    [ "$3" = --no-job-history ] || usage
    history=No
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
sock=$dir/cups.sock
pidfile=$dir/cupsd.pid

stop_scheduler() {
    if [ -f "$pidfile" ]; then
        pid=$(cat "$pidfile")
        # A PID left by an earlier boot may belong to another program by now.
        if [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = cupsd ]; then
            kill "$pid" 2>/dev/null || true
            n=0
            while kill -0 "$pid" 2>/dev/null && [ $n -lt 50 ]; do
                sleep 0.1
                n=$((n + 1))
            done
            kill -9 "$pid" 2>/dev/null || true
        fi
        rm -f "$pidfile"
    fi
    rm -f "$sock"
}

write_config() {
    rm -rf "$dir/etc" "$dir/spool" "$dir/cache" "$dir/state" "$dir/log" "$dir/tmp" "$dir/bin" "$dir/out" \
        "$dir/client"
    mkdir -p "$dir/etc/ppd" "$dir/etc/ssl" "$dir/spool" "$dir/cache" "$dir/state/certs" "$dir/log" \
        "$dir/tmp" "$dir/bin/backend" "$dir/out" "$dir/client"
    # Filters and backends run as user lp: they must reach the spool, temp and output folders.
    chmod 0755 "$dir" "$dir/etc" "$dir/etc/ppd" "$dir/spool" "$dir/cache" "$dir/state" "$dir/log" "$dir/bin" \
        "$dir/bin/backend"
    chmod 1777 "$dir/tmp" "$dir/out"
    chmod 0711 "$dir/state/certs"

    # ServerBin is a copy of the system one made of links, plus the failing test backend.
    for sub in /usr/lib/cups/*; do
        name=$(basename "$sub")
        [ "$name" = backend ] || ln -s "$sub" "$dir/bin/$name"
    done
    for backend in /usr/lib/cups/backend/*; do
        ln -s "$backend" "$dir/bin/backend/$(basename "$backend")"
    done
    cat >"$dir/bin/backend/qopra-fail" <<'EOF'
#!/bin/sh
# Lists nothing when probed; fails every job it is given.
[ $# -eq 0 ] && exit 0
cat >/dev/null
echo "ERROR: test backend refuses every job" >&2
exit 1
EOF
    chmod 0755 "$dir/bin/backend/qopra-fail"
    cat >"$dir/bin/backend/qopra-hold" <<EOF
#!/bin/sh
# Lists nothing when probed; holds each job while the hold file exists, then completes it.
[ \$# -eq 0 ] && exit 0
cat >/dev/null
n=0
while [ -e "$dir/out/qopra-busy.hold" ] && [ \$n -lt 1200 ]; do
    sleep 0.1
    n=\$((n + 1))
done
exit 0
EOF
    chmod 0755 "$dir/bin/backend/qopra-hold"
    cat >"$dir/bin/backend/qopra-nopaper" <<EOF
#!/bin/sh
# Lists nothing when probed; out of paper while the hold file exists, then prints.
[ \$# -eq 0 ] && exit 0
cat >/dev/null
echo "STATE: +media-empty-error" >&2
n=0
while [ -e "$dir/out/qopra-paper.hold" ] && [ \$n -lt 1200 ]; do
    sleep 0.1
    n=\$((n + 1))
done
echo "STATE: -media-empty-error" >&2
exit 0
EOF
    chmod 0755 "$dir/bin/backend/qopra-nopaper"

    cat >"$dir/etc/cups-files.conf" <<EOF
ServerRoot $dir/etc
RequestRoot $dir/spool
TempDir $dir/tmp
CacheDir $dir/cache
StateDir $dir/state
ServerBin $dir/bin
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
Printcap $dir/printcap
FileDevice Yes
SystemGroup root
User lp
Group lp
EOF

    cat >"$dir/etc/cupsd.conf" <<EOF
LogLevel warn
Listen $sock
Browsing No
DefaultAuthType None
DefaultEncryption Never
WebInterface No
MaxJobs 0
PreserveJobHistory $history
PreserveJobFiles No
JobRetryLimit 0
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
}

wait_running() {
    n=0
    while [ $n -lt 100 ]; do
        if CUPS_SERVER=$sock lpstat -r 2>/dev/null | grep -q "scheduler is running"; then
            return 0
        fi
        if ! kill -0 "$(cat "$pidfile")" 2>/dev/null; then
            break
        fi
        sleep 0.1
        n=$((n + 1))
    done
    echo "cups-rig: the scheduler did not start; see $dir/log/error_log" >&2
    return 1
}

# lpadmin warns about raw queues and drivers on every call; show its messages only when it fails.
add_queue() {
    if ! lpadmin "$@" 2>"$dir/log/lpadmin.err"; then
        cat "$dir/log/lpadmin.err" >&2
        return 1
    fi
}

create_queues() {
    export CUPS_SERVER=$sock
    add_queue -p qopra-null -v file:///dev/null -m raw -E
    add_queue -p qopra-pdf -v "file://$dir/out/qopra-pdf.out" \
        -P /usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd -E
    add_queue -p qopra-proof -v "file://$dir/out/qopra-proof.out" \
        -P /usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd -E
    add_queue -p qopra-paused -v file:///dev/null -m raw -E
    cupsdisable qopra-paused
    add_queue -p qopra-reject -v file:///dev/null -m raw -E
    cupsreject qopra-reject
    add_queue -p qopra-broken -v qopra-fail:/ -m raw -o printer-error-policy=abort-job -E
    add_queue -p qopra-busy -v qopra-hold:/ -m raw -E
    add_queue -p qopra-paper -v qopra-nopaper:/ -m raw -E
    add_queue -p qopra-html -v "file://$dir/out/qopra-html.out" \
        -P /usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd -E
    add_queue -p qopra-fidelity -v "file://$dir/out/qopra-fidelity.out" \
        -P /usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd -E
    add_queue -p qopra-text -v "file://$dir/out/qopra-text.out" \
        -P /usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd -E
}

case "$action" in
start)
    stop_scheduler
    write_config
    # The socket path must fit sockaddr_un.
    if [ ${#sock} -gt 107 ]; then
        echo "cups-rig: socket path too long: $sock" >&2
        exit 1
    fi
    cupsd -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" >"$dir/log/cupsd.out" 2>&1 &
    echo $! >"$pidfile"
    wait_running
    create_queues
    echo "export CUPS_SERVER=$sock"
    echo "export CUPS_SERVERROOT=$dir/client"
    ;;
stop)
    stop_scheduler
    ;;
*)
    usage
    ;;
esac
