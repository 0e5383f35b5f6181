// Lap timer.
