# Sums the self time perf reports per symbol into the stages of a frame (bench/README.md).
{
    p = $1; sub("%", "", p); c = "other"
    if ($0 ~ /side|addcorners|attributeat|orderpolygon|trianglexz|completepolygon|triangleword|fillfan|drawclipped|engine3d::tri/) c = "setup"
    else if ($0 ~ /depthspan|span<|filltriz|fillgeneral|fillflattop/) c = "filling"
    else if ($0 ~ /clipsegment|clipprojected|crossing/) c = "clipping"
    else if ($0 ~ /quim::|acos|intensity|shadeword/) c = "shading"
    else if ($0 ~ /engine3d::clear/) c = "clear"
    else if ($0 ~ /memset/) c = "baseline memset (not the frame)"
    t[c] += p
}
END { for (c in t) printf "%-32s %6.2f%%\n", c, t[c] }
