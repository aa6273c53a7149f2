#!/usr/bin/env bash
# inn-tls-through-proxy.sh BUILD_DIR: a real INN news server serving TLS on
# loopback (STARTTLS on its NNTP port, TLS from the first byte on a second
# port), with certificates from a test CA made here, and Sitowiak in front
# of it. Readers post and fetch through the proxy in the clear, with TLS and
# with STARTTLS, and must get the same bytes each way. Certificates that do
# not verify (another name, an unknown CA, expired) are refused with the 400
# line; a self-signed one is taken when "OdciskSerwera" names it. The test
# CA reaches the proxy as a user's would: SSL_CERT_FILE, which OpenSSL reads
# for the default trust store. Needs root, as inn-up does.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/proxy-control.sh"
begin_inn_test sitowiak-e2e-tls 4
news_port=$base tls_port=$((base + 1)) proxy_port=$((base + 2)) fake_port=$((base + 3))
fake_pid=

# The test PKI: a CA; the news server's certificate for 127.0.0.1; one for
# another name; an expired one; a self-signed one.
pki=$work/pki
mkdir -p "$pki"
(
    cd "$pki"
    key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
    csr() { openssl req -new -key "$1" -subj "/CN=$2" -out "$3"; }
    key ca.key
    openssl req -x509 -key ca.key -subj "/CN=Sitowiak Test CA" -days 2 -out ca.pem
    key server.key
    printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' > ip.ext
    printf 'subjectAltName=DNS:other.example\nbasicConstraints=CA:FALSE\n' > other.ext
    csr server.key news server.csr
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
        -extfile ip.ext -out server.pem 2>/dev/null
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
        -extfile other.ext -out other.pem 2>/dev/null
    # A validity in the past needs the CA command's explicit dates.
    : > index.txt
    echo 1000 > serial
    cat > ca.cnf <<'CNF'
[ca]
default_ca = test
[test]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
CNF
    openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in server.csr \
        -startdate 20200101000000Z -enddate 20200102000000Z -extfile ip.ext \
        -out expired.pem 2>/dev/null
    openssl req -x509 -key server.key -subj "/CN=news" -days 2 \
        -addext subjectAltName=IP:127.0.0.1 -out self.pem
) || { echo "FAIL: could not make the test certificates"; exit 1; }

INN_TLS_CERT=$pki/server.pem INN_TLS_KEY=$pki/server.key INN_TLS_PORT=$tls_port \
    start_inn "$news_port"

# start_proxy WAY PORT FINGERPRINT TRUST: the proxy to 127.0.0.1:PORT with
# "Szyfrowanie" WAY; TRUST "ca" adds the test CA to what OpenSSL trusts.
start_proxy() {
    local trust=()
    [ "$4" = ca ] && trust=(SSL_CERT_FILE="$pki/ca.pem")
    launch_proxy "${trust[@]}" <<REG
"LocalPort"="$proxy_port"
"RemotePort"="$2"
"Address"="127.0.0.1"
"Aktywne"="1"
"WriteAccess"="127.0.0.1"
"ReadAccess"="*"
"Szyfrowanie"="$1"
"OdciskSerwera"="$3"
REG
}

# A TLS server that is not a news server: Python's ssl module with CERT,
# which greets each reader once the handshake is done.
start_fake() {
    stop_fake
    python3 - "$fake_port" "$pki/$1" "$pki/server.key" <<'PY' >"$work/fake.log" 2>&1 &
import socket, ssl, sys, threading
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
ctx.load_cert_chain(sys.argv[2], sys.argv[3])
listener = socket.create_server(("127.0.0.1", int(sys.argv[1])))
def serve(conn):
    try:
        with ctx.wrap_socket(conn, server_side=True) as tls:
            tls.sendall(b"200 fake.test ready\r\n")
            tls.recv(1)
    except (ssl.SSLError, OSError):
        pass
while True:
    conn, _ = listener.accept()
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
PY
    fake_pid=$!
    extra_pids=("$fake_pid")
    listening "$fake_port" && return 0
    echo "FAIL: the TLS test server did not start"; cat "$work/fake.log"; exit 1
}
stop_fake() {
    [ -n "$fake_pid" ] && { kill "$fake_pid" 2>/dev/null; wait "$fake_pid" 2>/dev/null || true; }
    fake_pid=
    extra_pids=()
}

# The reader: nntp-tls-reader.py through the proxy.
reader() { python3 "$here/nntp-tls-reader.py" "$proxy_port" "$@"; }

status=0
fail() { echo "FAIL: $*"; status=1; }

# Each way posts one article (one of them large, in many TLS records).
declare -A posted
for way in plain TLS STARTTLS; do
    case $way in
        plain) start_proxy "" "$news_port" "" ca ;;
        TLS) start_proxy TLS "$tls_port" "" ca ;;
        STARTTLS) start_proxy STARTTLS "$news_port" "" ca ;;
    esac
    size=2000
    [ "$way" = TLS ] && size=400000
    posted[$way]=$(reader post "$way" "$size") || fail "posting with $way"
done
stop_proxy

# Then each way fetches every article; the bytes must be the same.
for way in plain TLS STARTTLS; do
    case $way in
        plain) start_proxy "" "$news_port" "" ca ;;
        TLS) start_proxy TLS "$tls_port" "" ca ;;
        STARTTLS) start_proxy STARTTLS "$news_port" "" ca ;;
    esac
    reader fetch > "$work/fetched.$way" || fail "fetching with $way"
done
stop_proxy
for way in plain TLS STARTTLS; do
    grep -qF -- "${posted[$way]}" "$work/fetched.plain" || fail "the article posted with $way is missing"
done
[ "$(stat -c %s "$work/fetched.plain")" -gt 400000 ] || fail "too little was fetched"
cmp "$work/fetched.plain" "$work/fetched.TLS" || fail "TLS gave other bytes than the clear"
cmp "$work/fetched.plain" "$work/fetched.STARTTLS" || fail "STARTTLS gave other bytes than the clear"

# refused WAY PORT FINGERPRINT TRUST REASON: the reader's one line.
refused() {
    start_proxy "$1" "$2" "$3" "$4"
    local got want="400 Brak połączenia z serwerem grup 127.0.0.1:$2: $5"
    got=$(reader first-line)
    [[ $got == "$want"* ]] || fail "expected '$want', got '$got'"
}
fingerprint() { openssl x509 -in "$pki/$1" -noout -fingerprint -sha256 | sed 's/.*=//'; }
self_hex=$(fingerprint self.pem | tr -d : | tr A-F a-f)

refused TLS "$tls_port" "" none "certyfikat serwera wystawił nieznany wystawca; odcisk SHA-256"
refused STARTTLS "$news_port" "" none "certyfikat serwera wystawił nieznany wystawca"
start_fake other.pem
refused TLS "$fake_port" "" ca "certyfikat serwera jest wystawiony na inną nazwę niż 127.0.0.1"
start_fake expired.pem
refused TLS "$fake_port" "" ca "certyfikat serwera wygasł"
start_fake self.pem
refused TLS "$fake_port" "" ca "certyfikat serwera wystawił nieznany wystawca; odcisk SHA-256 certyfikatu: $self_hex"
# The fingerprint the refusal named lets exactly that certificate in.
start_proxy TLS "$fake_port" "$(fingerprint self.pem)" ca
got=$(reader first-line)
[ "$got" = "200 fake.test ready" ] || fail "the named self-signed certificate was refused: '$got'"
stop_proxy
stop_fake
[ $status -eq 0 ] && echo "TLS through the proxy: all ways give the same bytes"
exit $status
