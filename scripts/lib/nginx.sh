# Shell helper for the benchmarks and the Wine scenarios: Debian's nginx serving a release exported by
# `zavr-devserver --export`, as the tests' own fixture does.

# start_nginx FOLDER EXPORT [CERTIFICATE KEY [DIRECTIVES]]: serves EXPORT on a free port of 127.0.0.1,
# over HTTPS with HTTP/2 when a certificate is given, with its configuration and logs in FOLDER (one
# line per request in FOLDER/access.log: request, status, body bytes, connection, protocol). DIRECTIVES
# go into the server block. Sets nginx_port and nginx_pid; returns 1 when nginx does not start.
start_nginx() {
  local folder=$1 export=$2 certificate=${3:-} key=${4:-} directives=${5:-} listen program notices line
  program=$(command -v nginx || echo /usr/sbin/nginx)
  mkdir -p "$folder"
  for _ in 1 2 3 4 5; do
    nginx_port=$((20000 + RANDOM % 20000))
    listen="listen 127.0.0.1:$nginx_port"
    if [ -n "$certificate" ]; then
      listen+=" ssl http2; ssl_certificate $certificate; ssl_certificate_key $key"
    fi
    cat >"$folder/nginx.conf" <<CONF
daemon off; worker_processes 1; $([ "$(id -u)" = 0 ] && echo "user root;")
pid $folder/nginx.pid; error_log $folder/error.log; error_log stderr notice;
events { worker_connections 1024; }
http {
  log_format zavr '\$request \$status \$body_bytes_sent \$connection \$server_protocol';
  access_log $folder/access.log zavr;
  client_body_temp_path $folder/b; proxy_temp_path $folder/p; fastcgi_temp_path $folder/f;
  uwsgi_temp_path $folder/u; scgi_temp_path $folder/s;
  server { $listen; $directives include $export/zavr-locations.conf; }
}
CONF
    # nginx listens before it starts its worker, and says so on standard error; it ends at once when
    # the port is taken (then another is tried).
    exec {notices}< <(exec "$program" -p "$folder" -e "$folder/error.log" -c "$folder/nginx.conf" 2>&1 >/dev/null)
    nginx_pid=$!
    while read -r -t 30 line <&"$notices"; do
      if [[ $line == *"start worker process"* ]]; then
        cat <&"$notices" >"$folder/notices.log" &
        exec {notices}<&-
        return 0
      fi
    done
    exec {notices}<&-
    kill "$nginx_pid" 2>/dev/null
  done
  echo "nginx did not start: $(cat "$folder/error.log")" >&2
  return 1
}

# start_relay RELAY-PROGRAM UPSTREAM-PORT DELAY-MS OUTPUT-FILE: the tests' relay in front of the port;
# sets relay (its proxy address) and relay_pid.
start_relay() {
  local ready="" output
  exec {output}< <(exec "$1" "$2" "$3")
  relay_pid=$!
  # Its first line says where it listens; a relay that ends or stays silent for a minute did not start.
  if ! read -r -t 60 ready <&"$output" || [[ $ready != Relaying* ]]; then
    echo "the relay did not start" >&2
    return 1
  fi
  { echo "$ready"; cat <&"$output"; } >"$4" &
  exec {output}<&-
  relay=${ready#Relaying }
  relay=${relay%%/ *}
}

# server_certificate FOLDER NAME AUTHORITY-PEM AUTHORITY-KEY SUBJECT-ALT-NAME: FOLDER/NAME.pem and .key.
server_certificate() {
  local folder=$1 name=$2
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=$name" \
    -keyout "$folder/$name.key" -out "$folder/$name.csr" 2>/dev/null
  echo "subjectAltName=$5" >"$folder/$name.ext"
  openssl x509 -req -in "$folder/$name.csr" -CA "$3" -CAkey "$4" -CAcreateserial -days 2 \
    -extfile "$folder/$name.ext" -out "$folder/$name.pem" 2>/dev/null
}
