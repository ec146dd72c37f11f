#!/usr/bin/env bash
# How close the measured travel comes to the truth over a grid of simulated products: every
# kind, travels 6 to 13.5 (12 to 13 where strips share a row or two: with half a row over, a thin
# overlap leans most), drifts -1.5 to 1.5 (whole and half pixels), three seeds, in the corrected (horizontal and
# vertical) layout. Prints, for visible and ultraviolet bands, the share within the goals (0.02 /
# 0.05 px visible, 0.05 / 0.1 px ultraviolet) of bands, of products (every band within; one not
# found counts as a miss) and by kind, the mean error by travel, and the products whose travel was
# not found.
# A travel of 13.5 leaves visible strips no common row at the middle of the strip (nor
# ultraviolet ones from 12): those are matched against the neighbouring band; a monochrome
# product has none, and is matched where its strips share rows toward their sides. The shares are
# given of all and of those found.
#   scripts/travel-accuracy.sh [BUILD_DIR] [FRAMELETS]
# TRAVEL_ACCURACY_TRAVELS="6 11" measures other travels, TRAVEL_ACCURACY_DRIFTS other drifts.
# With TRAVEL_ACCURACY_ROWS=FILE, every band's errors are kept in FILE.
set -euo pipefail
build=${1:-build}
framelets=${2:-40}
travels=${TRAVEL_ACCURACY_TRAVELS:-6 8.5 11 12 12.5 13 13.5}
drifts=${TRAVEL_ACCURACY_DRIFTS:--1.5 -1 -0.5 0 0.5 1 1.5}
wacsim=$build/bin/wacsim
cli=$build/bin/quelmar-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rows=$work/rows.tsv
: >"$rows"
for kind in ME VE UE CE; do
  for travel in $travels; do
    for drift in $drifts; do
      for seed in 1 2 3; do
        dir=$work/p
        rm -rf "$dir"
        "$wacsim" --kind $kind --framelets "$framelets" --travel $travel --drift $drift \
          --seed $seed --output-dir "$dir" >/dev/null
        img=$(ls "$dir"/*.IMG)
        truth=$(ls "$dir"/*_travel.txt)
        # The truth: visible and ultraviolet travels (constant along these products).
        read -r tv th uv uh < <(awk '!/^#/ {print $2, $3, $4, $5; exit}' "$truth")
        "$cli" travel --all-bands --correct --correct-vertically --tsv "$img" 2>/dev/null |
          awk -F'\t' -v k=$kind -v t=$travel -v d=$drift -v s=$seed \
            -v tv="$tv" -v th="$th" -v uv="$uv" -v uh="$uh" '
            NR == 1 { next }
            {
              ultra = ($3 == 321 || $3 == 360)
              tV = ultra ? uv : tv; tH = ultra ? uh : th
              if ($4 == "not found") { print k, t, d, s, $3, ultra, "nf", "nf"; next }
              print k, t, d, s, $3, ultra, $4 - tV, $5 - tH
            }' >>"$rows" || true
      done
    done
  done
done
if [[ -n ${TRAVEL_ACCURACY_ROWS:-} ]]; then cp "$rows" "$TRAVEL_ACCURACY_ROWS"; fi
awk -v travels="$travels" '
  {
    u = $6; n[u]++
    # A product (kind, travel, drift, seed) counts once, within the goals if all its bands are.
    p = $1 SUBSEP $2 SUBSEP $3 SUBSEP $4
    if (!((u, p) in product)) { product[u, p] = 1; np[u]++ }
    if ($7 == "nf") { nf[u]++; nft[u, $2]++; missed[u, p] = 1; next }
    ev = $7 < 0 ? -$7 : $7; eh = $8 < 0 ? -$8 : $8
    gv = u ? 0.05 : 0.02; gh = u ? 0.1 : 0.05
    okv[u] += ev <= gv + 1e-9; okh[u] += eh <= gh + 1e-9
    if (ev > gv + 1e-9 || eh > gh + 1e-9) missed[u, p] = 1
    nk[u, $1]++; okk[u, $1] += ev <= gv + 1e-9 && eh <= gh + 1e-9
    sum[u, $2] += $7; cnt[u, $2]++
  }
  END {
    for (u = 0; u <= 1; u++) {
      if (!n[u]) continue
      printf "%s bands: %d measured, %d not found\n", u ? "ultraviolet" : "visible", n[u], nf[u]
      printf "  vertical within %s px: %.1f %% (of those found %.1f %%); horizontal within %s px: %.1f %% (%.1f %%)\n",
        u ? "0.05" : "0.02", 100 * okv[u] / n[u], 100 * okv[u] / (n[u] - nf[u]),
        u ? "0.1" : "0.05", 100 * okh[u] / n[u], 100 * okh[u] / (n[u] - nf[u])
      for (k in missed) { split(k, m, SUBSEP); if (m[1] == u) bad[u]++ }
      printf "  products with every band within both goals: %d of %d (%.1f %%)\n", np[u] - bad[u],
        np[u], 100 * (np[u] - bad[u]) / np[u]
      nk0 = split("ME VE UE CE", ks, " ")
      for (i = 1; i <= nk0; i++)
        if (nk[u, ks[i]]) printf "  %s: both within the goals %.1f %% of %d found\n", ks[i], 100 * okk[u, ks[i]] / nk[u, ks[i]], nk[u, ks[i]]
      nt = split(travels, ts, " ")
      for (i = 1; i <= nt; i++) {
        t = ts[i]
        printf "  travel %-4s mean vertical error %+.3f (%d), not found %d\n", t,
          cnt[u, t] ? sum[u, t] / cnt[u, t] : 0, cnt[u, t], nft[u, t]
      }
    }
  }' "$rows"
