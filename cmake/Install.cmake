# A runnable installation: the programs, the pinned libraries beside them, and the
# licence texts of everything shipped.
