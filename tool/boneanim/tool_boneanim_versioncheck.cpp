// Build-compatibility check performed once before main (placeholder).
