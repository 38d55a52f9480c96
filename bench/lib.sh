# Shared by the benchmarks: timing, medians, and the synthetic product that they update.

now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

# product_document NAME FILE: the catalogue row's document of the benchmark's product 1001 (version 2.0.0
# for installed versions from 1.0.0), whose registry key is the case's own.
product_document() {
  mkdir -p "$(dirname "$2")"
  cat >"$2" <<JSON
[{"ProductID": 1001, "ProdName": "Bench", "Simulator": "XSE", "ProdVersion": 200, "MinVersion": 100,
  "PVDec": "2.0.0", "ZAVRFolderValue": "ZAVR KA2", "RegistryKey": "Software\\\\Bench\\\\$1"}]
JSON
}

# random_files COUNT BYTES FOLDER: COUNT files of BYTES random bytes each, f00000.bin onwards.
random_files() {
  mkdir -p "$3"
  head -c $(($1 * $2)) /dev/urandom | split -b "$2" -d -a 5 --additional-suffix=.bin - "$3/f"
}

# installed_registry NAME FILE SIMULATOR-FOLDER: the registry of version 1.0.0 installed there.
installed_registry() {
  local uninstall='SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{ED28645E-F9BC-451F-AB11-81DA5FE29A0F}'
  printf '{"HKEY_LOCAL_MACHINE": {"%s": {"DisplayVersion": "1.0.0"}}, "HKEY_CURRENT_USER": {"Software\\\\Bench\\\\%s": {"AppPath": "%s"}}}\n' \
    "$uninstall" "$1" "$3" >"$2"
}
