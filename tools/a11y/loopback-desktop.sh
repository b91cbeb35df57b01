# Shared by the scripts that run the laid-out player by hand against loopback
# servers: sourced, it defines
#   start_scratch             a scratch folder `work` (Icecast's own user may write
#                             in it) and an empty `pids`; at exit every PID in
#                             `pids` is ended and the folder removed (KEEP=1 keeps it)
#   free_port                 a free TCP port on 127.0.0.1
#   start_icecast DIR PORT    a private Icecast 2 on 127.0.0.1:PORT, its files in DIR
#   start_pulse DIR           a private PulseAudio with a null sink; sets PULSE_SERVER
#   no_services FOLDER        points a program folder's online services at a closed
#                             port, so nothing leaves the machine
#   start_xvfb FIRST COUNT    a private Xvfb on a display from :FIRST to :FIRST+COUNT-1;
#                             sets DISPLAY and turns the accessibility bridge on
# Each started server's PID is appended to the caller's array `pids`.

start_scratch() {
    work="$(mktemp -d)"
    chmod 755 "$work"
    pids=()
    trap stop_scratch EXIT
}

stop_scratch() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    if [ -n "${KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}

free_port() {
    /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

start_icecast() {
    local dir="$1" port="$2" owner=""
    mkdir -p "$dir"
    # Icecast refuses to run as root unless it changes to its own user.
    if [ "$(id -u)" -eq 0 ]; then
        owner="<security><chroot>0</chroot><changeowner><user>icecast2</user><group>icecast</group></changeowner></security>"
        chown icecast2 "$dir"
    fi
    cat > "$dir/icecast.xml" <<XML
<icecast>
  <limits><clients>100</clients><sources>2</sources><burst-size>65535</burst-size></limits>
  <authentication><source-password>src</source-password><admin-user>admin</admin-user><admin-password>adm</admin-password></authentication>
  <hostname>127.0.0.1</hostname>
  <listen-socket><port>$port</port><bind-address>127.0.0.1</bind-address></listen-socket>
  <paths><basedir>/usr/share/icecast2</basedir><logdir>$dir</logdir><webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot></paths>
  <logging><errorlog>error.log</errorlog><loglevel>2</loglevel></logging>
  $owner
</icecast>
XML
    icecast2 -c "$dir/icecast.xml" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do
        curl -s -o /dev/null "http://127.0.0.1:$port/" && return
        sleep 0.1
    done
}

start_pulse() {
    local dir="$1"
    mkdir -p "$dir/runtime/pulse" "$dir/home"
    HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" PULSE_RUNTIME_PATH="$dir/runtime/pulse" \
        pulseaudio --daemonize=no --system=false --exit-idle-time=-1 -n --realtime=no \
        --load="module-null-sink sink_name=null rate=44100 channels=2" \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
        >/dev/null 2>&1 &
    pids+=($!)
    export PULSE_SERVER="unix:$dir/native"
}

start_xvfb() {
    local display=":$(($1 + RANDOM % $2))"
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    sleep 1
    export DISPLAY="$display" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 NO_AT_BRIDGE=0
}

no_services() {
    printf '[services]\nmain=http://127.0.0.1:9\nradio=http://127.0.0.1:9\nsite=http://127.0.0.1:9\nlyrics=http://127.0.0.1:9\n' \
        > "$1/settings/services.dat"
}
