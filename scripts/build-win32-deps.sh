#!/usr/bin/env bash
# Builds the Windows program's libraries for i686-w64-mingw32 from Debian's own source packages, once
# per machine: libcurl (static, Schannel TLS, HTTP and HTTPS only), Boost.Filesystem (static, against
# the machine's own Boost headers of the same version) and libsodium (static). nlohmann/json is
# header-only.
# Prints the folder that holds them: $ZAVR_WIN32_DEPS, else /var/cache/zavr/win32-deps for root and
# ${XDG_CACHE_HOME:-~/.cache}/zavr/win32-deps for anyone else.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
if [ "$(id -u)" -eq 0 ]; then default_prefix=/var/cache/zavr/win32-deps; else
  default_prefix=${XDG_CACHE_HOME:-$HOME/.cache}/zavr/win32-deps
fi
prefix=$(realpath -m "${ZAVR_WIN32_DEPS:-$default_prefix}")
boost_source=boost1.74 # the source package of the headers in /usr/include/boost (libboost1.74-dev)
# Marks a folder as this script's own: only such a folder (or an empty one) is ever emptied. Folders
# made before the mark existed carry the stamp .built instead.
mark=.zavr-win32-deps

scripts/install-deps.sh windows >&2

# The release's own newest source of a package (a backports suite, where one is configured, is not).
source_version() {
  apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | grep -v '~bpo' | sort -V | tail -n 1
}
key="curl-$(source_version curl) boost-$(dpkg-query -W -f='${Version}' libboost1.74-dev) sodium-$(source_version libsodium)"
if [ -e "$prefix/.built" ] && [ "$(cat "$prefix/.built")" = "$key" ]; then
  echo "$prefix"
  exit 0
fi

if [ -e "$prefix" ] && [ ! -e "$prefix/$mark" ] && [ ! -e "$prefix/.built" ] && [ -n "$(ls -A "$prefix" 2>/dev/null)" ]; then
  echo "$prefix holds files that this script did not put there; I leave it alone." >&2
  echo "Name an empty or new folder in ZAVR_WIN32_DEPS." >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$prefix"
mkdir -p "$prefix/include" "$prefix/lib"
touch "$prefix/$mark"
cd "$work"
echo "Fetching the source packages of curl, $boost_source and libsodium ..." >&2
if ! apt-get source --download-only "curl=$(source_version curl)" "$boost_source" \
  "libsodium=$(source_version libsodium)" >fetch.log 2>&1; then
  cat fetch.log >&2
  exit 1
fi

echo "Building libcurl ..." >&2
dpkg-source --no-check -x curl_*.dsc curl >/dev/null
cmake -S curl -B curl-build -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-i686.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_SHARED_LIBS=OFF -DCURL_STATICLIB=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DHTTP_ONLY=ON -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF \
  -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DENABLE_MANUAL=OFF >/dev/null
cmake --build curl-build >/dev/null
cmake --install curl-build >/dev/null

echo "Building Boost.Filesystem ..." >&2
tar -xJf "${boost_source}"_*.orig.tar.xz --wildcards '*/libs/filesystem/src/*'
tar -xJf "${boost_source}"_*.debian.tar.xz
top=$(ls -d */libs/filesystem/src | head -n 1 | cut -d/ -f1)
# Debian's own patches to these sources, where a patch touches nothing else.
while read -r patch; do
  file=debian/patches/$patch
  [ -f "$file" ] || continue
  touched=$(grep -E '^\+\+\+ ' "$file" | awk '{print $2}' | sed 's|^[^/]*/||' | sort -u)
  if [ -n "$touched" ] && ! grep -qv '^libs/filesystem/src/' <<<"$touched"; then
    patch -s -d "$top" -p1 <"$file"
  fi
done < <(grep -v '^#' debian/patches/series)
# The machine's Boost headers, reached through a folder that holds nothing else, never /usr/include.
ln -s /usr/include/boost "$prefix/include/boost"
ln -s /usr/include/nlohmann "$prefix/include/nlohmann"
mkdir -p objects
compiles=()
for source in "$top"/libs/filesystem/src/*.cpp; do
  i686-w64-mingw32-g++-posix -std=c++17 -O2 -I"$prefix/include" -DBOOST_FILESYSTEM_STATIC_LINK=1 \
    -DBOOST_FILESYSTEM_SOURCE -DBOOST_ALL_NO_LIB -DNDEBUG -c "$source" -o "objects/$(basename "$source" .cpp).o" &
  compiles+=($!)
done
# A plain `wait` reports no failure; each compile is waited on by its own pid.
failed=0
for pid in "${compiles[@]}"; do wait "$pid" || failed=1; done
if [ "$failed" -ne 0 ]; then
  echo "A Boost.Filesystem source failed to compile (see above)." >&2
  exit 1
fi
i686-w64-mingw32-ar rcs "$prefix/lib/libboost_filesystem.a" objects/*.o

echo "Building libsodium ..." >&2
dpkg-source --no-check -x libsodium_*.dsc sodium >/dev/null
# Debian's source is the release's git tree: its configure script is generated first, as Debian does.
(cd sodium && ./autogen.sh -s >../autogen.log 2>&1 &&
  ./configure --host=i686-w64-mingw32 CC=i686-w64-mingw32-gcc-posix --prefix="$prefix" --disable-shared \
    --enable-static --disable-dependency-tracking --disable-ssp >../configure.log 2>&1 &&
  make -j "$(nproc)" >../make.log 2>&1 && make install >/dev/null 2>&1) ||
  { tail -n 30 autogen.log configure.log make.log >&2 2>/dev/null; echo "libsodium failed to build (see above)." >&2; exit 1; }

echo "$key" >"$prefix/.built"
echo "$prefix"
