#!/usr/bin/env bash
# The TLS proxy of deploy/nginx/fuelweb.conf in front of the running demo, on loopback:
#   https://127.0.0.1:8443/api/fuelweb  ->  http://127.0.0.1:8080/api/fuelweb (./run.sh)
#   https://127.0.0.1:8443/operator/    ->  http://127.0.0.1:8081/ (user operator, password
#                                           demo-operator)
# Start ./run.sh first (in another terminal). This script installs nginx and openssl when they are
# missing, makes a certificate for localhost/127.0.0.1 that lives as long as the demo (run/proxy/),
# writes an nginx configuration from the sample with the demo's ports and paths, and runs nginx
# in the foreground until Ctrl-C.
#
#   scripts/proxy-demo.sh           run the proxy until Ctrl-C
#   scripts/proxy-demo.sh --check   hold 200 slow or silent clients against fuelweb directly and
#                                   through the proxy, print how long /ping took meanwhile, stop
#
# FUELWEB_PORT (default 8080) names the demo's fuelweb port, PROXY_PORT (default 8443) the proxy's.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

FUELWEB_PORT=${FUELWEB_PORT:-8080}
OPERATOR_PORT=${OPERATOR_PORT:-8081}
PROXY_PORT=${PROXY_PORT:-8443}
APIKEY=demo-client,demo-server,demo-station
DIR="$ROOT/run/proxy"
CHECK=0
[ "${1:-}" = "--check" ] && CHECK=1

need=()
command -v nginx >/dev/null 2>&1 || [ -x /usr/sbin/nginx ] || need+=(nginx)
command -v openssl >/dev/null 2>&1 || need+=(openssl)
[ $CHECK = 1 ] && ! command -v python3 >/dev/null 2>&1 && need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
    echo "Installing: ${need[*]}"
    if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
NGINX=$(command -v nginx || echo /usr/sbin/nginx)

if ! curl -s -o /dev/null "http://127.0.0.1:$FUELWEB_PORT/api/fuelweb"; then
    echo "fuelweb does not answer on 127.0.0.1:$FUELWEB_PORT: start ./run.sh first" >&2
    exit 1
fi

mkdir -p "$DIR"
chmod 755 "$DIR"
# A certificate of its own for every run, valid for a day; curl and the check trust it by file.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
    -keyout "$DIR/station.key" -out "$DIR/station.crt" 2>/dev/null
chmod 600 "$DIR/station.key"
# The operator's page behind basic authentication: user "operator", password "demo-operator".
printf 'operator:%s\n' "$(openssl passwd -apr1 demo-operator)" > "$DIR/operator.htpasswd"

# The sample with the demo's ports and files; nginx's own settings for a run without the system
# configuration.
sed -e "s|listen 443 ssl;|listen 127.0.0.1:$PROXY_PORT ssl;|" \
    -e "s|server 127.0.0.1:8080;|server 127.0.0.1:$FUELWEB_PORT;|" \
    -e "s|server 127.0.0.1:8081;|server 127.0.0.1:$OPERATOR_PORT;|" \
    -e "s|/etc/nginx/fuelgate-operator.htpasswd|$DIR/operator.htpasswd|" \
    -e "s|/etc/fuelgate/tls/station.crt|$DIR/station.crt|" \
    -e "s|/etc/fuelgate/tls/station.key|$DIR/station.key|" \
    deploy/nginx/fuelweb.conf > "$DIR/fuelweb.conf"
cat > "$DIR/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $DIR/nginx.pid;
error_log $DIR/error.log warn;
events { worker_connections 2048; }
http {
    access_log $DIR/access.log;
    client_body_temp_path $DIR/body;
    proxy_temp_path $DIR/proxy;
    fastcgi_temp_path $DIR/fastcgi;
    uwsgi_temp_path $DIR/uwsgi;
    scgi_temp_path $DIR/scgi;
    include $DIR/fuelweb.conf;
}
CONF
"$NGINX" -t -q -p "$DIR" -c "$DIR/nginx.conf"

"$NGINX" -p "$DIR" -c "$DIR/nginx.conf" &
NGINX_PID=$!
stop() { kill -TERM "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; }
trap 'stop; exit 130' INT TERM
trap stop EXIT

BASE="https://127.0.0.1:$PROXY_PORT/api/fuelweb"
for _ in $(seq 50); do
    curl -s -o /dev/null --cacert "$DIR/station.crt" "$BASE" && break
    sleep 0.1
done

if [ $CHECK = 1 ]; then
    status=0
    python3 scripts/slow-clients.py --port "$FUELWEB_PORT" --apikey "$APIKEY" --label "fuelweb directly" || status=1
    python3 scripts/slow-clients.py --port "$PROXY_PORT" --tls --cafile "$DIR/station.crt" --apikey "$APIKEY" \
        --label "through the proxy" || status=1
    exit $status
fi

echo "== proxy on $BASE (certificate $DIR/station.crt), Ctrl-C stops it"
echo "curl -s --cacert $DIR/station.crt '$BASE/ping?apikey=$APIKEY&columnId=1'"
echo "curl -s --cacert $DIR/station.crt -u operator:demo-operator 'https://127.0.0.1:$PROXY_PORT/operator/status.json'"
echo "the operator's page: https://127.0.0.1:$PROXY_PORT/operator/ (operator / demo-operator)"
wait "$NGINX_PID"
