// Gives a library whose folder holds only headers one object file.
