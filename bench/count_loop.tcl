proc main {} {
  set n 0
  set i 0
  while {$i < 5000000} { incr i; incr n 2 }
  puts $n
}
main
