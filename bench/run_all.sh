#!/usr/bin/env bash
# Runs every benchmark and prints one table. Usage: bench/run_all.sh BUILD_DIR
set -u
bin=$(cd "${1:-build}/bin" && pwd)
seconds=${IDLE_SECONDS:-30}
presses=${PRESSES:-300}
volume_presses=${VOLUME_PRESSES:-100}

printf '%-36s %14s %14s %8s  %s\n' figure player reference ratio goal
"$bin/bench_key_latency" "$bin/norvelo" "$bin/bench_floor_relay" "$bin/bench_latency_decoder" "$presses" --rows
"$bin/bench_volume" "$bin/norvelo" "$bin/bench_floor_relay" "$bin/bench_latency_decoder" "$volume_presses" --rows
"$bin/bench_idle_cost" "$bin/norvelo" "$bin/bench_floor_relay" "$bin/bench_latency_decoder" "$seconds" --rows
"$bin/bench_engines" "$bin/norvelo" "$bin/bench_floor_relay" "$bin/bench_latency_decoder" "$presses" --rows
"$bin/bench_player_engines" "$bin/norvelo" "$bin/bench_floor_relay" "$bin/bench_latency_decoder" "${ENGINE_PRESSES:-100}" "${ENGINE_SECONDS:-10}" --rows
"$bin/bench_library_scale" "$bin/norvelo" "$bin/bench_latency_decoder" --rows 10000 100000
if [ -x "$bin/bench_plugin_pass" ]; then
  "$bin/bench_plugin_pass" --rows
fi
"$bin/bench_bridge" "$bin/norvelo-bridge" "$bin/bench_floor_relay" "$bin/bench_latency_decoder" "$presses" "$seconds" --rows
